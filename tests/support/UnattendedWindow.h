// The main window as a program without a person in front of it shows it (the
// benchmarks and the screenshot programs): on a 1366x768 screen, every
// message box answered, closing without a question, one tab in front.
#pragma once

#include "MainForm.h"
#include "WidgetHost.h"
#include "ui_MainForm.h"

namespace bms::test {

inline void ShowUnattended(MainForm& form, QWidget* tab)
{
    form.host().messageHook = [](const MessageBoxInfo&) { return true; };
    form.terminate = [] {};
    form.resize(1366, 768);
    form.show();
    form.form().pgc1->setCurrentWidget(tab);
}

} // namespace bms::test
