// Workbooks made and read by openpyxl for the workbook tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"

namespace workbooktest {

// Runs a Python program with Debian's interpreter in the folder; its output.
inline std::string Python(const tarvtest::TempDir& dir, const std::string& program) {
  const auto r = tarvtest::RunProgram("/usr/bin/python3", {"-c", program}, dir.path().string(),
                                        tarvtest::MachineScaled(120));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return r.output;
}

// A workbook with one sheet "S" holding the given Python assignments.
inline std::string Book(const tarvtest::TempDir& dir, const std::string& name, const std::string& cells) {
  Python(dir, "import openpyxl\nwb = openpyxl.Workbook(); ws = wb.active; ws.title = 'S'\n" + cells +
                  "\nwb.save('" + name + "')\n");
  return dir.File(name);
}

}  // namespace workbooktest
