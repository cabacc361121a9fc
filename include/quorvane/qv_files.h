/* Quorvane: file sources and file trees. */
#ifndef QUORVANE_QV_FILES_H
#define QUORVANE_QV_FILES_H

#include "qv_types.h"

/* A calendar date and time, laid out as the Windows SYSTEMTIME. */
typedef struct QV_SYSTEMTIME {
  QV_USHORT wYear;
  QV_USHORT wMonth; /* 1-12 */
  QV_USHORT wDayOfWeek; /* 0 Sunday - 6 Saturday */
  QV_USHORT wDay;
  QV_USHORT wHour;
  QV_USHORT wMinute;
  QV_USHORT wSecond;
  QV_USHORT wMilliseconds;
} QV_SYSTEMTIME, *PQV_SYSTEMTIME;

/* Reasons with which a file tree calls its callback; parameter 1 is the
 * node's path or name, for a collision the collision record. */
enum {
  CN_FILE_TREE_NODE_ADDED = 0,
  CN_FILE_TREE_NODE_REMOVED = 1,
  CN_FILE_TREE_NODE_SKIPPED = 2,
  CN_FILE_TREE_NAME_COLLISION = 3
};

#endif /* QUORVANE_QV_FILES_H */
