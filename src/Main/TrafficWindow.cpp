#include "TrafficWindow.h"

#include "App.h"
#include "DurableFile.h"
#include "UiHost.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace bms {

namespace {

QPushButton* Button(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// Starting widths of the columns, in characters.
constexpr int kColumnChars[] = {12, 3, 4, 36, 5, 40, 12};

} // namespace

TrafficWindow::TrafficWindow(QWidget* parent) : QWidget(parent, Qt::Window), model_(this), filter_(this)
{
    setObjectName(QStringLiteral("trafficWindow"));
    setWindowTitle(QStringLiteral("Traffic"));

    pause_ = Button(this, "trafficPause", QStringLiteral("Pause"));
    pause_->setCheckable(true);
    auto* clear = Button(this, "trafficClear", QStringLiteral("Clear"));
    errorsOnly_ = new QCheckBox(QStringLiteral("Errors only"), this);
    errorsOnly_->setObjectName(QStringLiteral("trafficErrorsOnly"));
    auto* copy = Button(this, "trafficCopy", QStringLiteral("Copy"));
    auto* save = Button(this, "trafficSave", QStringLiteral("Save..."));
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("trafficCount"));

    filter_.setSourceModel(&model_);
    view_ = new QTreeView(this);
    view_->setObjectName(QStringLiteral("trafficView"));
    view_->setModel(&filter_);
    view_->setRootIsDecorated(false);
    view_->setUniformRowHeights(true);
    view_->setAlternatingRowColors(true);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setTextElideMode(Qt::ElideRight);
    const int charWidth = view_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int hexWidth = QFontMetrics(QFontDatabase::systemFont(QFontDatabase::FixedFont)).horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < TrafficModel::ColumnCount; ++c)
        view_->setColumnWidth(c, kColumnChars[c] * (c == TrafficModel::BytesCol ? hexWidth : charWidth) + 12);

    auto* tools = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{pause_, clear, errorsOnly_, copy, save})
        tools->addWidget(w);
    tools->addStretch(1);
    tools->addWidget(count_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addWidget(view_, 1);
    resize(1100, 520);

    connect(pause_, &QPushButton::toggled, this, [this](bool on) {
        model_.setPaused(on);
        pause_->setText(on ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        updateCount();
    });
    connect(clear, &QPushButton::clicked, this, [this] {
        model_.clear();
        updateCount();
    });
    // A list that followed the newest rows goes on following them when the
    // filter changes (the same scroll position is elsewhere in the new rows).
    connect(errorsOnly_, &QCheckBox::toggled, this, [this](bool on) {
        const QScrollBar* bar = view_->verticalScrollBar();
        const bool atEnd = bar->value() >= bar->maximum();
        filter_.setErrorsOnly(on);
        if (atEnd)
            view_->scrollToBottom();
    });
    connect(copy, &QPushButton::clicked, this, &TrafficWindow::copySelection);
    connect(save, &QPushButton::clicked, this, &TrafficWindow::save);
    auto* copyKey = new QShortcut(QKeySequence::Copy, view_);
    copyKey->setContext(Qt::WidgetShortcut);
    connect(copyKey, &QShortcut::activated, this, &TrafficWindow::copySelection);

    // Follow the newest rows while the list is scrolled to its end.
    connect(&model_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar* bar = view_->verticalScrollBar();
        follow_ = bar->value() >= bar->maximum();
    });
    connect(&model_, &QAbstractItemModel::rowsInserted, this, &TrafficWindow::rowsAdded);
    // The count goes on while the list is paused.
    model_.onBatch = [this] { updateCount(); };

    chooseSaveFile = [this] {
        const QString name = QStringLiteral("traffic-%1.txt")
                                 .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save traffic"), QDir::home().filePath(name),
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
    };
    updateCount();
}

TrafficWindow::~TrafficWindow() { listen(false); }

void TrafficWindow::listen(bool on)
{
    if (on && observer_ == 0) {
        observer_ = AddFrameObserver([this](const FrameEvent& e) { model_.add(e); });
    } else if (!on && observer_ != 0) {
        RemoveFrameObserver(observer_);
        observer_ = 0;
        model_.flush();
    }
}

void TrafficWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    listen(true);
}

void TrafficWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Minimised windows go on listing; only a closed one stops.
    if (!isMinimized())
        listen(false);
}

void TrafficWindow::rowsAdded()
{
    if (follow_)
        view_->scrollToBottom();
}

void TrafficWindow::updateCount()
{
    QString text = QStringLiteral("%1 frames").arg(model_.rowCount());
    if (model_.paused() && model_.queued() > 0)
        text += QStringLiteral(", %1 waiting").arg(model_.queued());
    count_->setText(text);
}

QString TrafficWindow::selectedText() const
{
    QList<int> rows;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows())
        rows.append(filter_.mapToSource(index).row());
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (int row : rows)
        lines.append(model_.rowText(row));
    return lines.join(QLatin1Char('\n'));
}

void TrafficWindow::copySelection()
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text + QLatin1Char('\n'));
}

bool TrafficWindow::saveTo(const QString& path, QString* error) const
{
    DurableFile file(path);
    if (file.open()) {
        QByteArray chunk = TrafficModel::headerText().toUtf8() + '\n';
        auto put = [&](const FrameEvent& e) {
            chunk += TrafficModel::eventText(e).toUtf8() + '\n';
            if (chunk.size() > (1 << 16)) {
                file.write(chunk);
                chunk.clear();
            }
        };
        // The rows, then what arrived while the list was paused.
        for (int row = 0; row < model_.rowCount(); ++row)
            put(model_.event(row));
        for (const FrameEvent& e : model_.queuedEvents())
            put(e);
        file.write(chunk);
        if (file.commit())
            return true;
    }
    if (error)
        *error = file.errorString();
    return false;
}

void TrafficWindow::save()
{
    const QString path = chooseSaveFile ? chooseSaveFile() : QString();
    if (path.isEmpty())
        return;
    QString error;
    if (saveTo(path, &error))
        return;
    const QString message =
        QStringLiteral("The traffic could not be saved to %1: %2").arg(QDir::toNativeSeparators(path), error);
    // Through the window's message interface, so that a test records it.
    if (App.ui)
        App.ui->showError(message);
    else
        QMessageBox::warning(this, QStringLiteral("Traffic"), message);
}

void AddTrafficButton(QMainWindow* owner, QStatusBar* bar)
{
    auto* button = new QToolButton(bar);
    button->setObjectName(QStringLiteral("btn_traffic"));
    button->setText(QStringLiteral("Traffic"));
    button->setToolTip(QStringLiteral("Every frame sent and received"));
    button->setAutoRaise(true);
    bar->addPermanentWidget(button);
    QObject::connect(button, &QToolButton::clicked, owner, [owner] {
        auto* window = owner->findChild<TrafficWindow*>(QStringLiteral("trafficWindow"), Qt::FindDirectChildrenOnly);
        if (!window)
            window = new TrafficWindow(owner);
        window->show();
        window->raise();
        window->activateWindow();
    });
}

} // namespace bms
