#include "TestMain.h"

#ifdef KIVO_TEST_WIDGETS
#include "ui/KivoTheme.h"

#include <QApplication>
#else
#include <QCoreApplication>
#endif
#include <QTest>

#include <map>
#include <string>
#include <vector>

namespace kivo::test {

namespace {
std::map<std::string, Factory>& registry() {
    static std::map<std::string, Factory> classes;
    return classes;
}
} // namespace

bool registerTestClass(const char* name, Factory factory) {
    return registry().emplace(name, std::move(factory)).second;
}

} // namespace kivo::test

// Runs the classes named on the command line, or all of them; other arguments go to QtTest.
int main(int argc, char** argv) {
#ifdef KIVO_TEST_WIDGETS
    QApplication app(argc, argv);
    // Windows are tested in Kivo's look, on a desktop with the usual 10-point text unless a
    // test's environment asks for another size.
    QFont desktop = QApplication::font();
    desktop.setPointSizeF(qEnvironmentVariableIntValue("KIVO_TEST_DESKTOP_POINTS") > 0
                              ? qEnvironmentVariableIntValue("KIVO_TEST_DESKTOP_POINTS")
                              : 10);
    QApplication::setFont(desktop);
    kivo::KivoTheme::applyTo(app);
#else
    QCoreApplication app(argc, argv);
#endif
    const auto& classes = kivo::test::registry();
    std::vector<std::string> chosen;
    std::vector<char*> qtestArgs{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (classes.count(argv[i]) != 0) {
            chosen.emplace_back(argv[i]);
        } else {
            qtestArgs.push_back(argv[i]);
        }
    }
    for (const auto& [name, factory] : classes) {
        if (argc == int(qtestArgs.size())) {
            chosen.push_back(name);
        }
    }
    int failures = 0;
    for (const auto& name : chosen) {
        failures += QTest::qExec(classes.at(name)().get(), int(qtestArgs.size()), qtestArgs.data());
    }
    return failures == 0 ? 0 : 1;
}
