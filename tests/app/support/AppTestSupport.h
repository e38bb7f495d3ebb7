// Helpers shared by the updater's tests.
#pragma once

#include "common/Environment.h"

#include <string>

class QApplication;

// A folder of the test's own, removed with its contents afterwards.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    const std::string& Path() const { return m_Path; }
    // Writes Path()/name and returns its path.
    std::string WriteFile(const std::string& name, const std::string& bytes) const;
    std::string MakeDir(const std::string& name) const;

private:
    std::string m_Path;
};

// The test program's QApplication, made on first use. This and what uses it
// are defined in support/qt/, linked by the tests that say
// "ctest-link: qvapp_test_qt".
QApplication& TestApplication();

struct TApplicationFirst {
    TApplicationFirst() { TestApplication(); }
};

// Compiles de_DE.UTF-8 (decimal comma) once, points LOCPATH at it and
// returns its name; empty when localedef fails. Linux only.
std::string DecimalCommaLocale();
