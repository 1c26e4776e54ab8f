#include <gtest/gtest.h>

#include <cstdio>

#include <QApplication>

namespace {

// The offscreen platform cannot fix a window's size and says so for every
// fixed-size window; nothing else it says is noise.
void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains("propagateSizeHints")) return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

// One QApplication for the whole test program, on the offscreen platform
// unless the caller chose one.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(quietMessages);
        application_ = new QApplication(argc_, argv_);
    }
    void TearDown() override {
        delete application_;
        application_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[10] = "test_ui";
    char* argv_[2] = {name_, nullptr};
    QApplication* application_ = nullptr;
};

[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
