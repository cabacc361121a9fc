#include "udf_support.h"

namespace qvudf {

std::string UdfProblems(const std::string& image, const std::string& folder) {
  std::string problems, out;
  if (qvtest::RunCommand("udfinfo '" + image + "'", &out) != 0 || out.find("udfrev=1.02") == std::string::npos)
    problems += "udfinfo refuses the image:\n" + out;
  if (qvtest::RunCommand("7z t -tudf '" + image + "'", &out) != 0 || out.find("Everything is Ok") == std::string::npos)
    problems += "7z t refuses the image:\n" + out;
  qvtest::TempDir x;
  if (qvtest::RunCommand("7z x -tudf -o'" + x.path().string() + "' '" + image + "'", &out) != 0)
    problems += "7z x fails:\n" + out;
  else if (qvtest::RunCommand("diff -r '" + folder + "' '" + x.path().string() + "'", &out) != 0)
    problems += "7z extracts something else:\n" + out;
  return problems;
}

std::string VideoTs() { return qvtest::SourceDir() + "/tests/udf/fixtures/video_ts"; }

}  // namespace qvudf
