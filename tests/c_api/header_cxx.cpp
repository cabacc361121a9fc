// The public header stands alone in C++.
#include <quorvane.h>
