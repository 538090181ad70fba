#include "SettingsPage.h"

#include "Redaction.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace bms::stationtab {

namespace {

template <typename W>
W* Named(W* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

} // namespace

SettingsPage::SettingsPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("stationSettingsPage"));
    recipe_ = Named(new QLineEdit(this), QStringLiteral("stationRecipe"));
    browse_ = Named(new QPushButton(QStringLiteral("Browse..."), this), QStringLiteral("stationRecipeBrowse"));
    stationId_ = Named(new QLineEdit(this), QStringLiteral("stationId"));
    operator_ = Named(new QLineEdit(this), QStringLiteral("stationOperator"));
    lineDb_ = Named(new QLineEdit(this), QStringLiteral("stationLineDb"));
    lineDb_->setPlaceholderText(QStringLiteral("postgresql://user@host/database (empty: the PC's database only)"));
    fixtures_ = Named(new QSpinBox(this), QStringLiteral("stationFixtureCount"));
    printer_ = Named(new QComboBox(this), QStringLiteral("stationPrinter"));
    printer_->setEditable(true);
    printer_->setMinimumContentsLength(24);
    testPrint_ = Named(new QPushButton(QStringLiteral("Test print"), this), QStringLiteral("stationTestPrint"));
    fixtures_->setRange(1, kMaxFixtures);

    auto* form = new QFormLayout;
    auto* recipeRow = new QHBoxLayout;
    recipeRow->addWidget(recipe_, 1);
    recipeRow->addWidget(browse_);
    form->addRow(QStringLiteral("Recipe:"), recipeRow);
    form->addRow(QStringLiteral("Station id:"), stationId_);
    form->addRow(QStringLiteral("Operator:"), operator_);
    form->addRow(QStringLiteral("Line database:"), lineDb_);
    auto* printerRow = new QHBoxLayout;
    printerRow->addWidget(printer_, 1);
    printerRow->addWidget(testPrint_);
    form->addRow(QStringLiteral("Label printer:"), printerRow);
    form->addRow(QStringLiteral("Fixtures:"), fixtures_);
    for (int i = 0; i < kMaxFixtures; ++i) {
        auto* box = Named(new QComboBox(this), QStringLiteral("stationPort%1").arg(i + 1));
        box->setEditable(true);
        box->setMinimumContentsLength(36);
        auto* label = new QLabel(QStringLiteral("Port of fixture %1:").arg(i + 1), this);
        form->addRow(label, box);
        ports_.append(box);
        portLabels_.append(label);
    }
    save_ = Named(new QPushButton(QStringLiteral("Save"), this), QStringLiteral("stationSave"));

    lockState_ = Named(new QLabel(this), QStringLiteral("stationLockState"));
    password_ = Named(new QLineEdit(this), QStringLiteral("stationPassword"));
    password_->setEchoMode(QLineEdit::Password);
    unlock_ = Named(new QPushButton(QStringLiteral("Unlock"), this), QStringLiteral("stationUnlock"));
    newPassword_ = Named(new QLineEdit(this), QStringLiteral("stationNewPassword"));
    newPassword_->setEchoMode(QLineEdit::Password);
    // Typed twice: a slip of the finger must not lock the engineer out.
    newPasswordAgain_ = Named(new QLineEdit(this), QStringLiteral("stationNewPasswordAgain"));
    newPasswordAgain_->setEchoMode(QLineEdit::Password);
    setPassword_ = Named(new QPushButton(QStringLiteral("Set password"), this), QStringLiteral("stationSetPassword"));
    newShift_ = Named(new QPushButton(QStringLiteral("New shift"), this), QStringLiteral("stationNewShift"));
    status_ = Named(new QLabel(this), QStringLiteral("stationSettingsStatus"));
    status_->setWordWrap(true);

    auto* lockRow = new QHBoxLayout;
    passwordLabel_ = new QLabel(QStringLiteral("Engineer password:"), this);
    lockRow->addWidget(passwordLabel_);
    lockRow->addWidget(password_);
    lockRow->addWidget(unlock_);
    lockRow->addSpacing(24);
    lockRow->addWidget(new QLabel(QStringLiteral("New password:"), this));
    lockRow->addWidget(newPassword_);
    lockRow->addWidget(new QLabel(QStringLiteral("Again:"), this));
    lockRow->addWidget(newPasswordAgain_);
    lockRow->addWidget(setPassword_);
    lockRow->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(save_);
    buttons->addWidget(newShift_);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lockState_);
    layout->addLayout(lockRow);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(status_);
    layout->addStretch(1);

    connect(fixtures_, &QSpinBox::valueChanged, this, &SettingsPage::showFixtureRows);
    connect(testPrint_, &QPushButton::clicked, this, [this] { Q_EMIT testPrintRequested(printer_->currentText().trimmed()); });
    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Recipe"), recipe_->text(),
                                                          QStringLiteral("Recipes (*.toml)"));
        if (!file.isEmpty())
            recipe_->setText(file);
    });
    connect(save_, &QPushButton::clicked, this, &SettingsPage::saveRequested);
    connect(newShift_, &QPushButton::clicked, this, &SettingsPage::newShiftRequested);
    auto unlock = [this] {
        if (unlocked_ && hasPassword_) {
            setUnlocked(false);
            return;
        }
        Q_EMIT unlockRequested(password_->text());
        password_->clear();
    };
    connect(unlock_, &QPushButton::clicked, this, unlock);
    connect(password_, &QLineEdit::returnPressed, this, unlock);
    connect(setPassword_, &QPushButton::clicked, this, [this] {
        const QString password = newPassword_->text();
        const bool same = password == newPasswordAgain_->text();
        newPassword_->clear();
        newPasswordAgain_->clear();
        if (!same)
            return setStatus(QStringLiteral("The two new passwords differ: the password is not changed"));
        Q_EMIT setPasswordRequested(password);
    });
    showFixtureRows(1);
}

void SettingsPage::setPrinters(const QStringList& queues)
{
    const QString typed = printer_->currentText();
    printer_->clear();
    printer_->addItems(queues);
    printer_->setEditText(typed);
}

void SettingsPage::showFixtureRows(int count)
{
    for (int i = 0; i < kMaxFixtures; ++i) {
        ports_[i]->setVisible(i < count);
        portLabels_[i]->setVisible(i < count);
    }
}

void SettingsPage::load(const StationConfig& c, const QStringList& portList)
{
    recipe_->setText(c.recipe);
    stationId_->setText(c.stationId);
    operator_->setText(c.operatorName);
    // The password never shows: "****" stands for it, and stays the stored
    // password unless the engineer types another over it.
    lineDb_->setText(records::RedactedUrl(c.lineDb));
    printer_->setEditText(c.printer);
    fixtures_->setValue(std::max(1, c.fixtureCount()));
    for (int i = 0; i < kMaxFixtures; ++i) {
        ports_[i]->clear();
        ports_[i]->addItems(portList);
        ports_[i]->setEditText(c.ports.value(i));
    }
    showFixtureRows(fixtures_->value());
    hasPassword_ = c.locked();
    setUnlocked(!hasPassword_);
}

StationConfig SettingsPage::edited(const StationConfig& base) const
{
    StationConfig c = base;
    c.recipe = recipe_->text().trimmed();
    c.stationId = stationId_->text().trimmed();
    c.operatorName = operator_->text().trimmed();
    c.lineDb = records::UnmaskedUrl(lineDb_->text().trimmed(), base.lineDb);
    c.printer = printer_->currentText().trimmed();
    c.ports.clear();
    for (int i = 0; i < fixtures_->value(); ++i)
        c.ports.append(ports_[i]->currentText().trimmed());
    return c;
}

void SettingsPage::setUnlocked(bool on)
{
    unlocked_ = on;
    for (QWidget* w : std::initializer_list<QWidget*>{recipe_, browse_, stationId_, operator_, lineDb_, fixtures_, save_,
                                                       newPassword_, newPasswordAgain_, setPassword_, newShift_})
        w->setEnabled(on);
    // What was said while unlocked ("Password set ...") is over once locked.
    if (!on)
        setStatus({});
    for (QComboBox* box : ports_)
        box->setEnabled(on);
    password_->setEnabled(!on || !hasPassword_);
    password_->setVisible(hasPassword_ && !on);
    passwordLabel_->setVisible(hasPassword_ && !on);
    unlock_->setText(on && hasPassword_ ? QStringLiteral("Lock") : QStringLiteral("Unlock"));
    unlock_->setVisible(hasPassword_);
    lockState_->setText(!hasPassword_ ? QStringLiteral("No engineer password is set: anyone can change these settings. Set one to lock them.")
                        : on         ? QStringLiteral("Unlocked for the engineer.")
                                     : QStringLiteral("Locked: the engineer's password unlocks these settings."));
}

void SettingsPage::setStatus(const QString& text)
{
    status_->setText(text);
}

} // namespace bms::stationtab
