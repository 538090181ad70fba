// The real main window for a test: message boxes are recorded instead of
// shown (Yes/No questions answered with `answerYes`), the program's end is
// counted instead of quitting, and the window is shown so that its start-up
// runs.
#pragma once

#include "MainForm.h"
#include "WidgetHost.h"
#include "ui_MainForm.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace bms::test {

struct WindowFixture {
    WindowFixture()
    {
        // The Station tab reads its settings from a file of its own: a test
        // never reads the settings of the person running it.
        static QTemporaryDir noStation;
        if (!qEnvironmentVariableIsSet("QUORLEX_BMS_STATION_CONFIG"))
            qputenv("QUORLEX_BMS_STATION_CONFIG", QFile::encodeName(noStation.filePath(QStringLiteral("station.ini"))));
        window = std::make_unique<MainForm>();
        window->host().messageHook = [this](const MessageBoxInfo& box) {
            boxes.append(box);
            return answerYes;
        };
        window->terminate = [this] { ++terminations; };
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    ~WindowFixture()
    {
        // Let the window go without the exit question.
        window->host().messageHook = [](const MessageBoxInfo&) { return true; };
        window.reset();
    }

    WidgetHost& host() { return window->host(); }
    Ui::MainForm& form() { return window->form(); }
    template <class T = QWidget>
    T* find(const char* name) { return window->findChild<T*>(QString::fromLatin1(name)); }
    void click(const char* name)
    {
        auto* button = find<QAbstractButton>(name);
        QVERIFY2(button, name);
        QVERIFY2(button->isEnabled(), name);
        button->click();
    }
    void setComboText(const char* name, const QString& text) { find<QComboBox>(name)->setEditText(text); }
    QStringList boxTexts() const
    {
        QStringList list;
        for (const MessageBoxInfo& box : boxes)
            list.append(box.text);
        return list;
    }

    std::unique_ptr<MainForm> window;
    QList<MessageBoxInfo> boxes;
    bool answerYes = false;
    int terminations = 0;
};

} // namespace bms::test
