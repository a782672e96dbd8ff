#pragma once

#include <QDate>
#include <QString>
#include <QWidget>
#include <optional>

#include "Wmm2025.h"

QT_BEGIN_NAMESPACE
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
QT_END_NAMESPACE

// The declination for a place and a date from the World Magnetic Model 2025: latitude,
// longitude, height and date in, the declination (east positive, two decimals) out with the
// frame Set Mag. will send for it. "Use" hands the value to the console's declination field.
class DeclinationDialog : public QWidget {
    Q_OBJECT
public:
    explicit DeclinationDialog(QWidget* parent = nullptr);

    // The declination as it will go into the field ("1.28"), empty while there is none.
    QString DeclinationText() const;
    QString ResultText() const;
    QString FrameText() const;
    QString Message() const;

signals:
    // The operator chose Use: the text to put into the declination field.
    void UseDeclination(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Recompute();

    QLineEdit* m_latitude = nullptr;
    QLineEdit* m_longitude = nullptr;
    QLineEdit* m_height = nullptr;
    QDateEdit* m_date = nullptr;
    QLabel* m_result = nullptr;
    QLabel* m_frame = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_use = nullptr;
    QString m_declination;
};

// The declination of a text typed as a coordinate: degrees, negative or with a hemisphere
// letter (N/S for latitude, E/W for longitude). Nothing when the text is not such a number.
std::optional<double> ParseCoordinate(const QString& text, bool latitude);

// "12.5", "-0", "360", "045" and the like: degrees as the operator types them, with an optional
// degree sign (and U+2212 as a minus); nothing else.
std::optional<double> ParseDegrees(const QString& text);

// The frame Set Mag. sends for a declination, as the Send pane shows it ("68 06 00 06 00 12 1a"),
// or empty when Set Mag. refuses the value.
QString DeclinationFrameText(double declination);

// Shows the owner's declination window, making it on first use.
DeclinationDialog* ShowDeclinationDialog(QWidget* owner);
