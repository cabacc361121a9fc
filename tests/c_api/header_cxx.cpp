// The public header stands alone in C++.
#include <quorvane.h>

static_assert(sizeof(CDB_FAILURE_INFORMATION) == 54);
static_assert(EN_CDB_CALL_FAILED == 8 && CN_DEVICE_FOUND == 10 && DISC_TYPE_DVDPLUSR_DL == 15);
