#include "FixturePanel.h"

#include "FitLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace bms::stationtab {

using station::Outcome;

namespace {

struct BannerLook {
    QString text;
    const char* background;
    const char* foreground;
};

// The banner: the phase while a run is at work, else the last run's
// outcome in its own word.
BannerLook Look(const Verdict& verdict, Phase phase)
{
    if (phase == Phase::Running)
        return {QStringLiteral("TESTING"), "#1565c0", "white"};
    if (phase == Phase::Aborting)
        return {QStringLiteral("ABORTING"), "#6d6d6d", "white"};
    if (!verdict)
        return {QStringLiteral("READY"), "#e0e0e0", "#505050"};
    const QString word = station::OutcomeName(*verdict);
    switch (*verdict) {
    case Outcome::Pass:
        return {word, "#1b8a2f", "white"};
    case Outcome::Fail:
        return {word, "#d01c1c", "white"};
    case Outcome::Aborted:
        return {word, "#6d6d6d", "white"};
    default:
        return {word, "#e65100", "white"};
    }
}

// A step's row: green passed, red failed, blue under way, grey the rest.
QColor OutcomeColour(const std::optional<Outcome>& outcome)
{
    if (outcome == Outcome::Pass)
        return QColor(0x1b, 0x8a, 0x2f);
    if (outcome == Outcome::Fail || outcome == Outcome::Error)
        return QColor(0xd0, 0x1c, 0x1c);
    if (!outcome)
        return QColor(0x15, 0x65, 0xc0);
    return QColor(0x60, 0x60, 0x60);
}

template <typename L = FitLabel>
L* Label(const char* name, int pointSize, bool bold, QWidget* parent)
{
    auto* label = new L(parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

} // namespace

FixturePanel::FixturePanel(int fixture, QWidget* parent) : QFrame(parent), fixture_(fixture)
{
    setObjectName(QStringLiteral("fixturePanel%1").arg(fixture));
    setFrameShape(QFrame::StyledPanel);
    setLineWidth(2);
    setAutoFillBackground(true);

    title_ = Label<QLabel>("fixtureTitle", 11, true, this);
    port_ = Label<QLabel>("fixturePort", 9, false, this);
    barcode_ = Label("fixtureBarcode", 18, true, this);
    identity_ = Label("fixtureIdentity", 10, false, this);
    identity_->setMaxLines(2);
    banner_ = Label<QLabel>("fixtureBanner", 40, true, this);
    banner_->setAlignment(Qt::AlignCenter);
    banner_->setMinimumHeight(84);
    reason_ = Label("fixtureReason", 12, true, this);
    reason_->setStyleSheet(QStringLiteral("color: #d01c1c;"));
    label_ = Label("fixtureLabel", 11, true, this);
    printAgain_ = new QPushButton(QStringLiteral("Print again"), this);
    printAgain_->setObjectName(QStringLiteral("fixturePrintAgain"));
    printAgain_->setFocusPolicy(Qt::NoFocus);
    // The reason takes up to three lines, whole in the tooltip.
    label_->setMaxLines(3);
    label_->hide();
    printAgain_->hide();
    step_ = Label("fixtureStep", 13, true, this);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("fixtureProgress"));
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(14);
    steps_ = new QListWidget(this);
    steps_->setObjectName(QStringLiteral("fixtureSteps"));
    steps_->setFocusPolicy(Qt::NoFocus);
    steps_->setSelectionMode(QAbstractItemView::NoSelection);
    QFont stepsFont(QStringLiteral("monospace"));
    stepsFont.setStyleHint(QFont::Monospace);
    stepsFont.setPointSize(10);
    steps_->setFont(stepsFont);
    // Three steps at least; the list takes the room the rest leaves.
    steps_->setMinimumHeight(QFontMetrics(stepsFont).lineSpacing() * 3 + 2 * steps_->frameWidth() + 4);

    prompt_ = new QFrame(this);
    prompt_->setObjectName(QStringLiteral("fixturePrompt"));
    prompt_->setStyleSheet(QStringLiteral("#fixturePrompt { background: #fff3b0; border: 2px solid #c9a400; }"));
    promptText_ = Label("fixturePromptText", 13, true, prompt_);
    promptValue_ = new QLineEdit(prompt_);
    promptValue_->setObjectName(QStringLiteral("fixturePromptValue"));
    QFont valueFont = promptValue_->font();
    valueFont.setPointSize(13);
    promptValue_->setFont(valueFont);
    promptOk_ = new QPushButton(QStringLiteral("OK"), prompt_);
    promptOk_->setObjectName(QStringLiteral("fixturePromptOk"));
    promptOk_->setFont(valueFont);
    promptOk_->setFocusPolicy(Qt::NoFocus);
    auto* promptRow = new QHBoxLayout;
    promptRow->addWidget(promptValue_, 1);
    promptRow->addWidget(promptOk_);
    auto* promptLayout = new QVBoxLayout(prompt_);
    promptLayout->setContentsMargins(6, 6, 6, 6);
    promptLayout->addWidget(promptText_);
    promptLayout->addLayout(promptRow);
    prompt_->hide();

    message_ = Label("fixtureMessage", 12, true, this);
    message_->setStyleSheet(QStringLiteral("color: #b35c00;"));
    abort_ = new QPushButton(QStringLiteral("Abort"), this);
    abort_->setObjectName(QStringLiteral("fixtureAbort"));
    abort_->setFocusPolicy(Qt::NoFocus);

    // Texts never widen the panel: four panels share the width of a laptop
    // screen whatever the port paths and barcodes are. Nor do they lengthen
    // it: the failure, the question and the messages take a few lines at
    // most (setCompact), the whole text in their tooltips.
    for (QLabel* label : {port_, banner_})
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(title_);
    titleRow->addWidget(port_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(4);
    layout->addLayout(titleRow);
    layout->addWidget(barcode_);
    layout->addWidget(identity_);
    layout->addWidget(banner_);
    layout->addWidget(reason_);
    layout->addWidget(label_);
    layout->addWidget(printAgain_, 0, Qt::AlignRight);
    layout->addWidget(step_);
    layout->addWidget(progress_);
    layout->addWidget(prompt_);
    layout->addWidget(steps_, 1);
    // Takes the room of the steps when they are not shown, so the rest
    // stays at the top.
    filler_ = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    layout->addItem(filler_);
    layout->addWidget(message_);
    layout->addWidget(abort_);

    // A click anywhere on the panel chooses the fixture, on its texts and
    // its step list too; the buttons and the answer box keep their clicks.
    for (QWidget* child : findChildren<QWidget*>())
        if (child != abort_ && child != promptOk_ && child != promptValue_ && child != printAgain_)
            child->installEventFilter(this);

    connect(promptOk_, &QPushButton::clicked, this, &FixturePanel::submitPrompt);
    connect(promptValue_, &QLineEdit::returnPressed, this, &FixturePanel::submitPrompt);
    connect(abort_, &QPushButton::clicked, this, &FixturePanel::abortClicked);
    connect(printAgain_, &QPushButton::clicked, this, &FixturePanel::printAgainClicked);
    setCompact(false);
}

void FixturePanel::setCompact(bool compact)
{
    steps_->setVisible(!compact);
    filler_->changeSize(0, 0, QSizePolicy::Minimum, compact ? QSizePolicy::Expanding : QSizePolicy::Fixed);
    // Two rows of small panels and their questions fit the height of a
    // laptop screen: less room between the lines, a smaller barcode and
    // banner.
    layout()->setSpacing(compact ? 2 : 4);
    layout()->setContentsMargins(8, compact ? 4 : 6, 8, compact ? 4 : 6);
    layout()->invalidate();
    const auto pointSize = [](QWidget* w, int size) {
        QFont font = w->font();
        font.setPointSize(size);
        w->setFont(font);
    };
    pointSize(barcode_, compact ? 15 : 18);
    pointSize(banner_, compact ? 28 : 40);
    banner_->setMinimumHeight(compact ? 50 : 84);
    compact_ = compact;
    promptText_->setMaxLines(2);
}

void FixturePanel::show(const FixtureModel& model, const QString& port, bool selected, bool portMissing)
{
    const FixtureState& s = model.state();
    title_->setText(QStringLiteral("Fixture %1").arg(fixture_));
    portText_ = port.isEmpty() ? QStringLiteral("(no port)") : port;
    port_->setToolTip(portText_);
    elidePort();
    barcode_->setWholeText(s.barcode.isEmpty() ? QStringLiteral("-") : s.barcode);
    QStringList identity;
    if (!s.uid.isEmpty())
        identity << QStringLiteral("UID ") + s.uid;
    if (!s.serialNumber.isEmpty())
        identity << QStringLiteral("SN ") + s.serialNumber;
    // Two lines always, so the banners of all panels stand level.
    while (identity.size() < 2)
        identity << QStringLiteral(" ");
    identity_->setWholeText(identity.join(QLatin1Char('\n')));

    const BannerLook look = Look(s.verdict, s.phase);
    // Style sheets repolish the widget: set only when they change.
    if (banner_->text() != look.text) {
        banner_->setText(look.text);
        banner_->setStyleSheet(QStringLiteral("background: %1; color: %2; border-radius: 6px;")
                                   .arg(QLatin1String(look.background), QLatin1String(look.foreground)));
    }

    // The failure: its code, then every failing measurement with its
    // limits, or the failure in words when no measurement failed.
    QStringList reason;
    if (s.phase == Phase::Idle && s.verdict && *s.verdict != Outcome::Pass) {
        if (!s.failureCode.isEmpty())
            reason << s.failureCode;
        if (!s.reason.isEmpty() && s.failures.empty())
            reason << s.reason;
    }
    for (const FailedMeasurement& f : s.failures)
        reason << FailureLine(f);
    reason_->setWholeText(reason.join(QLatin1Char('\n')));
    const bool working = s.phase == Phase::Running || s.phase == Phase::Aborting;
    // A small panel has room below its banner for an open question or for
    // the rest, not for both: the question, which waits for the operator,
    // takes it.
    const bool asking = !s.prompt.id.isEmpty();
    const bool roomy = !compact_ || !asking;
    reason_->setMaxLines(compact_ && working ? 1 : compact_ ? 2 : 3);
    reason_->setVisible(roomy && !reason.isEmpty());

    step_->setWholeText(s.phase == Phase::Aborting ? QStringLiteral("Aborting ...") : model.currentStepText());
    step_->setVisible(working && roomy);
    progress_->setMaximum(std::max<int>(1, int(s.steps.size())));
    progress_->setValue(model.stepsDone());
    progress_->setVisible(working && roomy);

    // Rows are changed in place, and only where they changed, so that an
    // event repaints what it changed and nothing more.
    while (steps_->count() > int(s.steps.size()))
        delete steps_->takeItem(steps_->count() - 1);
    for (size_t i = 0; i < s.steps.size(); ++i) {
        const StepRow& row = s.steps[i];
        QString text = QStringLiteral("%1 %2").arg(i + 1, 2).arg(row.name.left(17), -17);
        if (row.outcome) {
            // The longest outcome (ABORTED) and the longest time a step may
            // take (900.0 s) keep a blank between them.
            text += QLatin1Char(' ') + station::OutcomeName(*row.outcome).left(7).leftJustified(7);
            if (*row.outcome != Outcome::NotRun)
                text += QStringLiteral(" %1 s").arg(row.durationS, 5, 'f', 1);
        } else if (int(i) == s.current) {
            text += QStringLiteral(" ...");
        }
        QListWidgetItem* item = steps_->item(int(i));
        if (!item)
            item = new QListWidgetItem(steps_);
        if (item->text() != text)
            item->setText(text);
        const QColor colour = OutcomeColour(row.outcome);
        if (item->foreground().color() != colour)
            item->setForeground(colour);
    }
    if (s.current >= 0)
        steps_->scrollToItem(steps_->item(s.current));

    const bool promptChanged = s.prompt.id != promptId_;
    if (promptChanged) {
        promptId_ = s.prompt.id;
        promptValue_->clear();
        refusals_ = 0;
    }
    promptKind_ = s.prompt.kind;
    prompt_->setVisible(asking);
    promptValue_->setVisible(s.prompt.kind != QLatin1String("confirm"));
    // A refused answer stays in the box, selected, to be typed over.
    if (s.prompt.refusals != refusals_) {
        refusals_ = s.prompt.refusals;
        promptValue_->selectAll();
        if (promptValue_->isVisible())
            promptValue_->setFocus();
    }
    QString question = s.prompt.text;
    if (!s.prompt.refused.isEmpty())
        question += QStringLiteral("\n") + s.prompt.refused;
    promptText_->setWholeText(question);

    QStringList message;
    if (portMissing)
        message << QStringLiteral("Port missing: this fixture is skipped until its port is back");
    if (!s.message.isEmpty())
        message << s.message;
    if (working)
        message += s.notes;
    message_->setWholeText(message.join(QLatin1Char('\n')));
    message_->setMaxLines(compact_ && working ? 1 : 2);
    message_->setVisible(roomy && !message.isEmpty());
    abort_->setEnabled(s.phase == Phase::Running);
    if (promptChanged)
        Q_EMIT promptOpenedOrClosed();

    if (selected != selected_) {
        selected_ = selected;
        setStyleSheet(selected ? QStringLiteral("#fixturePanel%1 { border: 3px solid #1565c0; }").arg(fixture_) : QString());
    }
}

bool FixturePanel::asksForValue() const
{
    return !promptId_.isEmpty() && promptKind_ != QLatin1String("confirm");
}

QString FixturePanel::bannerText() const { return banner_->text(); }

void FixturePanel::showLabel(const QString& state, const QString& reason)
{
    label_->setVisible(!state.isEmpty());
    printAgain_->setVisible(state == QLatin1String("failed"));
    if (state == QLatin1String("failed")) {
        // A label that did not come out must catch the operator's eye: the
        // pack would leave the station without it.
        label_->setWholeText(QStringLiteral("Label not printed: ") + reason);
        label_->setStyleSheet(QStringLiteral("background: #ff8c00; color: black; padding: 2px; border-radius: 4px;"));
    } else if (state == QLatin1String("printed")) {
        label_->setWholeText(QStringLiteral("Label printed"));
        label_->setStyleSheet(QStringLiteral("color: #1a7f37;"));
    } else {
        label_->setWholeText(QStringLiteral("Label queued"));
        label_->setStyleSheet(QStringLiteral("color: #555555;"));
    }
}

QString FixturePanel::labelText() const
{
    return label_->isHidden() ? QString() : label_->wholeText();
}
QString FixturePanel::reasonText() const { return reason_->wholeText(); }
QString FixturePanel::messageText() const { return message_->wholeText(); }

void FixturePanel::submitPrompt()
{
    if (promptId_.isEmpty())
        return;
    Q_EMIT answered(promptKind_ == QLatin1String("confirm") ? QStringLiteral("ok") : promptValue_->text().trimmed());
}

void FixturePanel::elidePort()
{
    port_->setText(port_->fontMetrics().elidedText(portText_, Qt::ElideMiddle, std::max(40, port_->width())));
}

void FixturePanel::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    elidePort();
}

void FixturePanel::mousePressEvent(QMouseEvent* event)
{
    QFrame::mousePressEvent(event);
    pressed(event);
}

bool FixturePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress)
        pressed(static_cast<QMouseEvent*>(event));
    return QFrame::eventFilter(watched, event);
}

void FixturePanel::pressed(const QMouseEvent* event)
{
    // A press on a child that does not take it reaches the panel as well:
    // one press chooses once.
    if (event->button() != Qt::LeftButton || event->timestamp() == lastPress_)
        return;
    lastPress_ = event->timestamp();
    Q_EMIT selectClicked();
}

} // namespace bms::stationtab
