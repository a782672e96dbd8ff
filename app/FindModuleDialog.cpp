#include "FindModuleDialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "LineRules.h"

namespace {

QString Module(int speedIndex, int address) {
    return QStringLiteral("%1 bit/s, address %2")
        .arg(kLineSpeeds[static_cast<std::size_t>(speedIndex)])
        .arg(address);
}

}  // namespace

FindModuleDialog::FindModuleDialog(ModuleSession& session,
                                   std::function<std::optional<ScanPlan>()> plan, QWidget* parent)
    : QDialog(parent), m_scanner(session), m_plan(std::move(plan)) {
    setObjectName(QStringLiteral("findModule"));
    setWindowTitle(QStringLiteral("TORVA - Find module"));
    setWindowModality(Qt::WindowModal);

    auto* intro = new QLabel(
        QStringLiteral("Searches the selected port for the module: the read request at every "
                       "speed and every address 0 to 255, the speed and address in the window "
                       "first."),
        this);
    intro->setWordWrap(true);
    m_wholeBus = new QCheckBox(QStringLiteral("&Whole bus: list every module that answers"), this);
    m_wholeBus->setObjectName(QStringLiteral("wholeBus"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setValue(0);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("result"));
    m_result->setWordWrap(true);
    m_found = new QListWidget(this);
    m_found->setObjectName(QStringLiteral("found"));
    m_search = new QPushButton(QStringLiteral("&Search"), this);
    m_search->setObjectName(QStringLiteral("search"));
    m_cancel = new QPushButton(QStringLiteral("Close"), this);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    for (QPushButton* button : {m_search, m_cancel}) {
        button->setAutoDefault(false);  // Enter presses nothing
        button->setDefault(false);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_search);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(m_wholeBus);
    layout->addWidget(m_progress);
    layout->addWidget(m_result);
    layout->addWidget(m_found);
    layout->addLayout(buttons);
    resize(420, 320);

    connect(m_search, &QPushButton::clicked, this, &FindModuleDialog::startSearch);
    connect(m_cancel, &QPushButton::clicked, this, &FindModuleDialog::reject);
    connect(&m_scanner, &ModuleScanner::progress, this, [this](int done, int total) {
        m_progress->setMaximum(total);
        m_progress->setValue(done);
    });
    connect(&m_scanner, &ModuleScanner::found, this,
            [this](int speedIndex, int address) { m_found->addItem(Module(speedIndex, address)); });
    connect(&m_scanner, &ModuleScanner::failed, this,
            [this](const LineFailure& failure) { m_failure = failure; });
    connect(&m_scanner, &ModuleScanner::finished, this, &FindModuleDialog::onFinished);
}

FindModuleDialog::~FindModuleDialog() = default;

void FindModuleDialog::startSearch() {
    if (m_scanner.running())
        return;
    const std::optional<ScanPlan> plan = m_plan();
    if (!plan)
        return;  // the window has said why
    ScanPlan wanted = *plan;
    wanted.wholeBus = m_wholeBus->isChecked();
    m_failure.reset();
    m_found->clear();
    m_progress->setValue(0);
    if (const auto failure = m_scanner.start(wanted)) {
        m_result->setText(failure->description);
        return;
    }
    m_result->setText(QStringLiteral("Searching..."));
    m_search->setEnabled(false);
    m_wholeBus->setEnabled(false);
    m_cancel->setText(QStringLiteral("Cancel"));
}

void FindModuleDialog::reject() {
    if (m_scanner.running()) {
        m_scanner.cancel();
        return;
    }
    QDialog::reject();
}

void FindModuleDialog::onFinished(const ScanResult& result) {
    m_search->setEnabled(true);
    m_wholeBus->setEnabled(true);
    m_cancel->setText(QStringLiteral("Close"));
    const double seconds = static_cast<double>(result.elapsedMs) / 1000.0;
    switch (result.end) {
        case ScanEnd::Found:
            m_result->setText(
                result.found.size() == 1
                    ? QStringLiteral("Found the module at %1 after %2 requests (%3 s).")
                          .arg(
                              Module(result.found.front().speedIndex, result.found.front().address))
                          .arg(result.tries)
                          .arg(seconds, 0, 'f', 1)
                    : QStringLiteral("Found %1 modules after %2 requests (%3 s); the window "
                                     "takes the first.")
                          .arg(result.found.size())
                          .arg(result.tries)
                          .arg(seconds, 0, 'f', 1));
            emit moduleFound(result.found.front().speedIndex, result.found.front().address);
            break;
        case ScanEnd::NotFound:
            m_result->setText(QStringLiteral("No module answered at any speed or address (%1 "
                                             "requests, %2 s).")
                                  .arg(result.tries)
                                  .arg(seconds, 0, 'f', 1));
            break;
        case ScanEnd::Cancelled:
            m_result->setText(QStringLiteral("Cancelled after %1 requests; no module answered.")
                                  .arg(result.tries));
            break;
        case ScanEnd::Failed:
            m_result->setText(m_failure ? m_failure->description
                                        : QStringLiteral("The search failed."));
            break;
    }
}

FindModuleDialog* ShowFindModuleDialog(QWidget* owner, ModuleSession& session,
                                       const std::function<std::optional<ScanPlan>()>& plan) {
    auto* dialog = owner->findChild<FindModuleDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (!dialog)
        dialog = new FindModuleDialog(session, plan, owner);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}
