#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

// Runs one QtTest class with the per-user settings kept in a fresh temporary
// folder, set before anything in the process opens them.
#define KORVA_QTEST_MAIN(TestClass)                                                                \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        QTemporaryDir configHome;                                                                  \
        qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());                                    \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
