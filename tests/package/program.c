/* A program of an application developer, built against the installed
 * library: opens the virtual drive named on the command line through the
 * engine and prints what the drive says it is. */
#include <quorvane.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
  char text[1024] = "", vendor[9] = "", product[17] = "", revision[5] = "";
  QV_WCHAR wide[64] = {0};
  QV_ULONG systemError = 0, buffer = 0, status;
  CDB_FAILURE_INFORMATION failure;
  QV_HANDLE drive = NULL;
  size_t i;

  if (argc != 2 || strlen(argv[1]) >= 64) {
    fprintf(stderr, "usage: program DEVICE-NAME\n");
    return 2;
  }
  if (Quorvane_UpStartEx() != EN_SUCCESS || Quorvane_GetVersion() != QUORVANE_ENGINE_VERSION) {
    fprintf(stderr, "the engine did not start, or is not the version of its header\n");
    return 1;
  }
  for (i = 0; argv[1][i] != '\0'; ++i) wide[i] = (QV_WCHAR)(unsigned char)argv[1][i];
  status = Quorvane_CdvdBurnerGrabber_CreateExEx(&drive, text, sizeof text, &systemError, &failure, NULL, NULL, wide,
                                                 1, 0);
  if (status == EN_SUCCESS)
    status = Quorvane_CdvdBurnerGrabber_GetDeviceInformation(drive, text, sizeof text, &systemError, &failure, vendor,
                                                             product, revision, &buffer);
  if (drive != NULL) Quorvane_CdvdBurnerGrabber_Destroy(&drive);
  if (status != EN_SUCCESS) {
    fprintf(stderr, "%s: %s\n", argv[1], text);
    return 1;
  }
  printf("%s: %s %s %s, a buffer of %lu bytes\n", argv[1], vendor, product, revision, (unsigned long)buffer);
  return vendor[0] != '\0' ? 0 : 1;
}
