#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QApplication>
#include <QWidget>

#include "support/form_fixture.h"
#include "ui/main_window.h"

namespace planexor::testing {

// The form with its window, and the names of the handlers that ran.
class WindowTest : public FormTest {
protected:
    void SetUp() override {
        form.handlerTrace = [this](std::string_view handler) { handlers.emplace_back(handler); };
        window = std::make_unique<MainWindow>(form);
    }
    void TearDown() override { window.reset(); }  // before the form it observes

    int ran(std::string_view handler) const {
        return static_cast<int>(std::count(handlers.begin(), handlers.end(), handler));
    }

    template <class Widget = QWidget>
    Widget* widget(const std::string& name) const {
        auto* found = window->findChild<Widget*>(QString::fromStdString(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    ControlModel& model(std::string_view name) { return form.control(*controlByName(name)); }

    std::vector<std::string> handlers;
    std::unique_ptr<MainWindow> window;
};

}  // namespace planexor::testing
