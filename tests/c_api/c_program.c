/* Uses the engine from C99, through the shared library only. */
#include <quorvane.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;
#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: CHECK(%s)\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                \
    }                                                            \
  } while (0)

static unsigned calls = 0;
static void QUORVANE_CALL on_device(QV_ULONG reason, void *context, void *p1, void *p2) {
  (void)context;
  (void)p2;
  if (reason == CN_DEVICE_FOUND && p1 != NULL) ++calls;
}

int main(void) {
  char volume[32];
  const char *banner;

  CHECK(offsetof(CDB_FAILURE_INFORMATION, m__UCHAR__Sense) == 19);
  CHECK(offsetof(CDB_FAILURE_INFORMATION, m__UCHAR__TargetStatus) == 52);

  CHECK(Quorvane_UpStartEx() == EN_SUCCESS);
  CHECK(Quorvane_UpStartEx() == EN_SUCCESS);
  CHECK(Quorvane_GetVersion() == QUORVANE_ENGINE_VERSION);
  banner = Quorvane_GetBanner();
  CHECK(banner != NULL && strstr(banner, "Version 6.6.30 ( 0x20060630 )") != NULL);

  CHECK(Quorvane_SetEjectAfterFail(0) == 0 && Quorvane_GetEjectAfterFail() == 0);
  CHECK(strcmp(Quorvane_GetExceptionText(EN_CDB_CALL_FAILED),
               "SCSI CDB delivery failed, check CDB_FAILURE_INFORMATION for details") == 0);
  CHECK(Quorvane_GetVolumeIDs("nonexistent-image.iso", volume) == 2);
  (void)Quorvane_FindDevice(0xFF, 0, on_device, NULL);
  CHECK(Quorvane_DownShut() == EN_SUCCESS);

  printf("%d failure(s)\n", failures);
  return failures == 0 ? 0 : 1;
}
