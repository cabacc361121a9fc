// OS error numbers become the engine's system error numbers.
#include <cerrno>

#include "platform/errors.h"
#include "support/test_support.h"

TEST(SystemErrors, ErrnoMapsToTheReportedCodes) {
  const std::pair<int, uint32_t> table[] = {
      {0, 0},         {ENOENT, 2},  {ENOTDIR, 3},   {EMFILE, 4},       {EACCES, 5},    {EPERM, 5},
      {EBADF, 6},     {ENOMEM, 8},  {EROFS, 19},    {EINVAL, 87},      {ENOSPC, 112},  {EDQUOT, 112},
      {ETIMEDOUT, 121}, {ENAMETOOLONG, 206}, {EFBIG, 223}, {EIO, 1117}, {ENOMEDIUM, 1112}, {ENODEV, 1167},
      {ENXIO, 1167},  {EINTR, 1223}, {ECANCELED, 1223}, {EBUSY, 170},  {EEXIST, 80},   {ENOSYS, 50},
      {EXDEV, 31},    {ELOOP, 1921},
  };
  for (auto [err, code] : table) EXPECT_EQ(qv::plat::SystemErrorFromErrno(err), code) << "errno " << err;
}
