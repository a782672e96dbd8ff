#include "DeclinationDialog.h"

#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <cmath>

#include "CommandTable.h"
#include "Frame.h"

namespace {

QString Two(double value) {
    // Two decimals with a point, and never "-0.00".
    const double rounded = std::round(value * 100.0) / 100.0;
    return QLocale::c().toString(rounded == 0.0 ? 0.0 : rounded, 'f', 2);
}

}  // namespace

std::optional<double> ParseCoordinate(const QString& text, bool latitude) {
    QString t = text.trimmed().toUpper().replace(QChar(0x2212), QLatin1Char('-'));
    double sign = 1.0;
    if (!t.isEmpty()) {
        const QChar last = t.back();
        const QString hemispheres = latitude ? QStringLiteral("NS") : QStringLiteral("EW");
        if (hemispheres.contains(last)) {
            sign = last == hemispheres[0] ? 1.0 : -1.0;
            t.chop(1);
            t = t.trimmed();
            if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+')))
                return std::nullopt;  // a sign and a hemisphere say it twice
        }
    }
    const std::optional<double> value = ParseDegrees(t);
    if (!value)
        return std::nullopt;
    return sign * *value;
}

std::optional<double> ParseDegrees(const QString& text) {
    QString t = text.trimmed();
    if (t.endsWith(QChar(0x00B0)))
        t.chop(1);
    t = t.trimmed().replace(QChar(0x2212), QLatin1Char('-'));
    static const QRegularExpression kNumber(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)$"));
    if (!kNumber.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString DeclinationFrameText(double declination) {
    if (!DeclinationInRange(declination))
        return QString();
    const auto payload = EncodeDeclination(declination);
    std::uint8_t frame[7] = {kFrameStart, 0x06, 0x00, 0x06, payload[0], payload[1], 0};
    frame[6] = FrameChecksum(frame);
    return QString::fromStdString(FrameToHexText(frame, sizeof frame)).trimmed();
}

DeclinationDialog::DeclinationDialog(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("declination"));
    setWindowTitle(QStringLiteral("TORVA - Declination from position"));
    auto edit = [this](const char* name, const QString& placeholder) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setPlaceholderText(placeholder);
        return e;
    };
    m_latitude = edit("latitude", QStringLiteral("degrees, north + (e.g. 52.52 or 52.52N)"));
    m_longitude = edit("longitude", QStringLiteral("degrees, east + (e.g. -1.9 or 1.9W)"));
    m_height = edit("height", QStringLiteral("metres above the ellipsoid"));
    m_height->setText(QStringLiteral("0"));
    m_date = new QDateEdit(QDate::currentDate(), this);
    m_date->setObjectName(QStringLiteral("date"));
    m_date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_date->setCalendarPopup(true);

    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("result"));
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_result->setWordWrap(true);
    m_frame = new QLabel(this);
    m_frame->setObjectName(QStringLiteral("frame"));
    m_frame->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_frame->setWordWrap(true);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);
    m_use = new QPushButton(QStringLiteral("&Use"), this);
    m_use->setObjectName(QStringLiteral("use"));
    m_use->setAutoDefault(false);
    m_use->setToolTip(
        QStringLiteral("Put the declination into the console's declination field, "
                       "as if typed there"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setAutoDefault(false);
    connect(m_use, &QPushButton::clicked, this, [this] {
        if (!m_declination.isEmpty()) {
            emit UseDeclination(m_declination);
            m_message->setText(QStringLiteral("%1 is in the declination field; Set Mag. sends it.")
                                   .arg(m_declination));
        }
    });
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Latitude"), m_latitude);
    form->addRow(QStringLiteral("L&ongitude"), m_longitude);
    form->addRow(QStringLiteral("&Height (m)"), m_height);
    form->addRow(QStringLiteral("&Date"), m_date);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_use);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_result);
    layout->addWidget(m_frame);
    layout->addWidget(m_message);
    layout->addStretch(1);
    layout->addLayout(buttons);
    // Each change of a field gives the result at once.
    for (QLineEdit* e : {m_latitude, m_longitude, m_height})
        connect(e, &QLineEdit::textChanged, this, &DeclinationDialog::Recompute);
    connect(m_date, &QDateEdit::dateChanged, this, &DeclinationDialog::Recompute);
    resize(520, 340);
    Recompute();
}

void DeclinationDialog::Recompute() {
    m_declination.clear();
    m_result->clear();
    m_frame->clear();
    m_use->setEnabled(false);
    auto refuse = [this](const QString& why) { m_message->setText(why); };

    if (m_latitude->text().trimmed().isEmpty() || m_longitude->text().trimmed().isEmpty()) {
        refuse(QStringLiteral("Type the latitude and longitude of the place."));
        return;
    }
    const auto latitude = ParseCoordinate(m_latitude->text(), true);
    if (!latitude || std::fabs(*latitude) > 90.0) {
        refuse(QStringLiteral("Latitude: “%1” is not a latitude; type degrees from -90 to 90 "
                              "(south negative, or with N or S).")
                   .arg(m_latitude->text().trimmed()));
        return;
    }
    const auto longitude = ParseCoordinate(m_longitude->text(), false);
    if (!longitude || std::fabs(*longitude) > 360.0) {
        refuse(QStringLiteral("Longitude: “%1” is not a longitude; type degrees from -180 to "
                              "180 (west negative, or with E or W).")
                   .arg(m_longitude->text().trimmed()));
        return;
    }
    bool ok = false;
    const double metres = QLocale::c().toDouble(m_height->text().trimmed(), &ok);
    if (!ok || !std::isfinite(metres)) {
        refuse(QStringLiteral("Height: “%1” is not a number of metres.")
                   .arg(m_height->text().trimmed()));
        return;
    }
    const QDate date = m_date->date();
    const double year = DecimalYear(date.year(), date.month(), date.day());
    const WmmResult r = EvaluateWmm({*latitude, *longitude, metres / 1000.0, year});
    if (!r.field) {
        refuse(QStringLiteral("No declination: %1.").arg(QString::fromStdString(r.error)));
        return;
    }
    const WmmField& f = *r.field;
    m_declination = Two(f.declination);
    const double committed = QLocale::c().toDouble(m_declination);
    m_result->setText(
        QStringLiteral("Declination %1° %2   (inclination %3°, horizontal field %4 nT, total "
                       "%5 nT; World Magnetic Model 2025 for %6)")
            .arg(committed > 0 ? QLatin1Char('+') + m_declination : m_declination,
                 committed > 0   ? QStringLiteral("east")
                 : committed < 0 ? QStringLiteral("west")
                                 : QString(),
                 Two(f.inclination), QString::number(std::lround(f.h)),
                 QString::number(std::lround(f.f)), date.toString(QStringLiteral("yyyy-MM-dd"))));
    const QString frame = DeclinationFrameText(committed);
    m_frame->setText(
        frame.isEmpty()
            ? QStringLiteral("Set Mag. sends nothing for it: the module takes "
                             "-159.9 to 159.9°.")
            : QStringLiteral("Set Mag. sends %1 (the module takes tenths: %2°).")
                  .arg(frame, QString::number(std::trunc(committed * 10.0) / 10.0, 'f', 1)));
    QStringList warnings;
    if (f.outsideValidity)
        warnings << (year >= kWmmValidUntil
                         ? QStringLiteral("The model has expired: it holds from 2025.0 to 2030.0, "
                                          "and %1 lies after; use its successor.")
                               .arg(date.toString(QStringLiteral("yyyy-MM-dd")))
                         : QStringLiteral("The date lies before the model's epoch 2025.0: the "
                                          "model holds from 2025.0 to 2030.0."));
    if (f.weakHorizontalField)
        warnings << QStringLiteral(
                        "Near the magnetic pole the horizontal field is weak (%1 nT): "
                        "a compass is unreliable here.")
                        .arg(std::lround(f.h));
    m_message->setText(warnings.join(QLatin1Char(' ')));
    m_use->setEnabled(true);
}

QString DeclinationDialog::DeclinationText() const {
    return m_declination;
}

QString DeclinationDialog::ResultText() const {
    return m_result->text();
}

QString DeclinationDialog::FrameText() const {
    return m_frame->text();
}

QString DeclinationDialog::Message() const {
    return m_message->text();
}

void DeclinationDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

DeclinationDialog* ShowDeclinationDialog(QWidget* owner) {
    auto* dialog = owner->findChild<DeclinationDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (!dialog)
        dialog = new DeclinationDialog(owner);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}
