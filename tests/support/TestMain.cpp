#include "TestMain.h"

#include <QCoreApplication>
#include <QTest>

#include <cstdio>
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
    registry().emplace(name, std::move(factory));
    return true;
}

} // namespace kivo::test

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto& classes = kivo::test::registry();

    std::vector<std::string> chosen;
    std::vector<char*> qtestArgs{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (classes.count(argv[i]) != 0) {
            chosen.emplace_back(argv[i]);
        } else {
            qtestArgs.push_back(argv[i]);
        }
    }
    if (chosen.empty()) {
        for (const auto& [name, factory] : classes) {
            chosen.push_back(name);
        }
    }

    int failures = 0;
    for (const auto& name : chosen) {
        auto object = classes.at(name)();
        failures +=
            QTest::qExec(object.get(), static_cast<int>(qtestArgs.size()), qtestArgs.data());
    }
    if (failures != 0) {
        std::fprintf(stderr, "%d test function(s) failed\n", failures);
    }
    return failures == 0 ? 0 : 1;
}
