// The link's QSerialPort needs an application object in the test process.
#pragma once

#include <gtest/gtest.h>
#include <QCoreApplication>

class QtEnvironment : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "link-test";
        static char* argv[] = {name, nullptr};
        app = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app; }

  private:
    QCoreApplication* app = nullptr;
};

static ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);
