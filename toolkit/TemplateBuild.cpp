#include "TemplateBuild.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOptionComboBox>

#include "Widgets.h"

namespace {

QWidget* CreateStatic(const ControlSpec& spec, QWidget* parent) {
    auto* label = new StaticLabel(spec.caption, parent);
    label->setTextFormat(Qt::PlainText);
    Qt::Alignment align = (spec.style & Style::Center) ? Qt::AlignHCenter : Qt::AlignLeft;
    if (spec.style & Style::CenterImage) {
        align |= Qt::AlignVCenter;
    } else {
        align |= Qt::AlignTop;
        label->setWordWrap(true);
    }
    label->setAlignment(align);
    unsigned windowStyle = StaticStyle::SS_NOPREFIX;  // labels show their text as is
    if (spec.style & Style::Center)
        windowStyle |= StaticStyle::SS_CENTER;
    if (spec.style & Style::CenterImage)
        windowStyle |= StaticStyle::SS_CENTERIMAGE;
    label->setProperty("windowStyle", windowStyle);
    return label;
}

// Makes one dialog's controls.
class Builder {
public:
    Builder(QWidget* dialog, const DialogUnits& units, const QFont& font,
            const ControlEvents& events)
        : m_dialog(dialog), m_units(units), m_font(font), m_events(events) {}

    QWidget* CreateControl(const ControlSpec& spec);

private:
    QWidget* CreateEdit(const ControlSpec& spec);
    QWidget* CreateComboBox(const ControlSpec& spec, const QRect& rect);
    QWidget* CreatePicture(const ControlSpec& spec, const QRect& rect);

    QWidget* m_dialog;
    DialogUnits m_units;
    QFont m_font;
    const ControlEvents& m_events;
    FlatScrollBarStyle* m_paneScrollStyle = nullptr;  // a Qt child of the dialog
};

QWidget* Builder::CreateControl(const ControlSpec& spec) {
    QWidget* const parent = m_dialog;
    const QRect rect = m_units.ToPixels(spec.x, spec.y, spec.cx, spec.cy);
    const int id = spec.id;
    QWidget* widget = nullptr;
    switch (spec.kind) {
        case ControlKind::Button: {
            auto* button = new QPushButton(spec.caption, parent);
            // Enter presses no button of the main window; other dialogs name a default one.
            const bool isDefault = (spec.style & Style::DefaultButton) != 0;
            button->setAutoDefault(isDefault);
            button->setDefault(isDefault);
            QObject::connect(button, &QPushButton::clicked, parent, [&events = m_events, id] {
                events.notify(id, Notification::Clicked);
            });
            widget = button;
            break;
        }
        case ControlKind::Edit:
            widget = CreateEdit(spec);
            break;
        case ControlKind::Static:
            widget = CreateStatic(spec, parent);
            break;
        case ControlKind::Icon: {
            auto* label = new QLabel(parent);
            if (spec.resource)
                label->setPixmap(LoadIconResource(spec.resource)->icon.pixmap(32, 32));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            // An icon control takes the icon's size, as the platform's icon statics do.
            label->setGeometry(rect.x(), rect.y(), std::max(rect.width(), 32),
                               std::max(rect.height(), 32));
            return label;
        }
        case ControlKind::Picture:
            return CreatePicture(spec, rect);
        case ControlKind::ComboBox:
            return CreateComboBox(spec, rect);
        case ControlKind::GroupBox: {
            auto* box = new FrameGroupBox(spec.caption, parent);
            if (spec.style & Style::Center)
                box->setAlignment(Qt::AlignHCenter);
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget = box;
            break;
        }
    }
    if (spec.style & Style::Disabled)
        widget->setEnabled(false);
    QRect placed = rect;
    if (spec.kind == ControlKind::Static && !(spec.style & Style::Center)) {
        // The layout was made for a face whose Latin letters are narrower than ours: a
        // left-aligned label whose caption is wider than its box grows to the right ("Com"),
        // instead of losing its last letter.
        const int needed = QFontMetrics(m_font).horizontalAdvance(spec.caption) + 1;
        placed.setWidth(std::max(placed.width(), needed));
    }
    widget->setGeometry(placed);
    return widget;
}

QWidget* Builder::CreateEdit(const ControlSpec& spec) {
    const int id = spec.id;
    const ControlEvents& events = m_events;
    if (!(spec.style & Style::Multiline)) {
        auto* edit = new FieldEdit(spec.caption, m_dialog);
        if (spec.style & Style::Number) {
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[0-9]*")), edit));
        }
        QObject::connect(edit, &QLineEdit::textChanged, m_dialog,
                         [&events, id] { events.notify(id, Notification::Changed); });
        edit->onFocusLost = [&events, id](Qt::FocusReason reason) { events.focusLost(id, reason); };
        return edit;
    }
    auto* edit = new QPlainTextEdit(m_dialog);
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Tab and Shift+Tab move on to the next control, as in any dialog, instead of typing.
    edit->setTabChangesFocus(true);
    edit->setVerticalScrollBarPolicy((spec.style & Style::VScroll) ? Qt::ScrollBarAlwaysOn
                                                                   : Qt::ScrollBarAsNeeded);
    edit->setHorizontalScrollBarPolicy((spec.style & Style::HScroll) ? Qt::ScrollBarAlwaysOn
                                                                     : Qt::ScrollBarAlwaysOff);
    // Flat scroll bars (see FlatScrollBarStyle). They paint every pixel, and the pane fills its
    // own background: say so, or every flush also repaints what lies beneath the pane.
    if (!m_paneScrollStyle) {
        m_paneScrollStyle = new FlatScrollBarStyle;
        m_paneScrollStyle->setParent(m_dialog);
    }
    for (QScrollBar* bar : {edit->verticalScrollBar(), edit->horizontalScrollBar()}) {
        bar->setStyle(m_paneScrollStyle);
        bar->setAttribute(Qt::WA_OpaquePaintEvent);
    }
    edit->setAutoFillBackground(true);
    // Hex text needs no shaping; laying out the lines of a refresh without it costs a fraction.
    QFont paneFont = m_font;
    paneFont.setStyleStrategy(QFont::PreferNoShaping);
    edit->setFont(paneFont);
    events.pane(id, edit);
    return edit;
}

QWidget* Builder::CreateComboBox(const ControlSpec& spec, const QRect& rect) {
    const int id = spec.id;
    auto* combo = new QComboBox(m_dialog);
    // The fields beside the arrow are narrow ("Com1" in a 33-unit list): a slightly condensed
    // face shows their whole text.
    QFont condensed = m_font;
    condensed.setStretch(90);
    combo->setFont(condensed);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);  // typed text never becomes an entry
    combo->setCompleter(nullptr);
    combo->addItems(spec.items);
    combo->setCurrentIndex(-1);
    combo->setEditText(QString());
    // Typing into the field leaves no entry selected until the text names one.
    QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo,
                     [combo](const QString& text) {
                         if (combo->currentIndex() == -1)
                             return;
                         const int cursor = combo->lineEdit()->cursorPosition();
                         const QSignalBlocker block(combo);
                         combo->setCurrentIndex(-1);
                         combo->setEditText(text);
                         combo->lineEdit()->setCursorPosition(cursor);
                     });
    // Leaving the field with the name of an entry in it selects that entry, as choosing it
    // would ("com3 " selects Com3); any other text stays, with no entry selected.
    const QStringList items = spec.items;
    QObject::connect(combo->lineEdit(), &QLineEdit::editingFinished, combo, [combo, items] {
        if (combo->currentIndex() != -1)
            return;
        const int named = EntryNamedBy(items, combo->currentText());
        if (named != -1)
            combo->setCurrentIndex(named);
    });
    QObject::connect(combo, &QComboBox::currentIndexChanged, m_dialog,
                     [&events = m_events, id] { events.notify(id, Notification::SelChange); });
    const int itemHeight = QFontMetrics(m_font).height() + 2;
    combo->setMaxVisibleItems(
        std::max(1, (rect.height() - combo->sizeHint().height()) / itemHeight));
    const int height = combo->sizeHint().height();
    // The field beside the arrow shows its entry whole ("Com20" in a 33-unit list): a list
    // whose widest entry does not fit grows to the right, as a label does. Qt's field keeps a
    // margin of 2 px on either side of its text and 1 px for the cursor.
    int widest = 0;
    for (const QString& item : spec.items)
        widest = std::max(widest, QFontMetrics(condensed).horizontalAdvance(item));
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = true;
    option.frame = true;
    option.rect = QRect(0, 0, rect.width(), height);
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, combo);
    const int width = rect.width() + std::max(0, widest + 2 * 2 + 1 - field.width());
    combo->setGeometry(rect.x(), rect.y(), width, height);
    // The drop-down list is as wide as its widest entry, beside its scroll bar.
    QAbstractItemView* list = combo->view();
    list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                          combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list));
    return combo;
}

QWidget* Builder::CreatePicture(const ControlSpec& spec, const QRect& rect) {
    auto* label = new QLabel(m_dialog);
    const QPixmap bitmap(QStringLiteral(":/res/bitmap%1.png").arg(spec.resource));
    label->setProperty("backdrop", true);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (bitmap.isNull()) {
        label->setGeometry(rect);
        return label;
    }
    // The bitmap at its own size from the top-left corner. The pictures were drawn for a slightly
    // smaller dialog unit than ours: where the control reaches beyond the bitmap, its edge colour
    // continues, so the controls drawn over it stay on it.
    const QSize size = bitmap.size().expandedTo(rect.size());
    QPixmap shown(size);
    shown.fill(bitmap.toImage().pixelColor(bitmap.width() - 1, bitmap.height() - 1));
    QPainter(&shown).drawPixmap(0, 0, bitmap);
    label->setPixmap(shown);
    label->setGeometry(QRect(rect.topLeft(), size));
    return label;
}

}  // namespace

std::unordered_map<int, QWidget*> BuildControls(QWidget* dialog,
                                                const DialogTemplate& dialogTemplate,
                                                const DialogUnits& units, const QFont& font,
                                                const ControlEvents& events) {
    std::unordered_map<int, QWidget*> controls;
    Builder builder(dialog, units, font, events);
    for (const ControlSpec& spec : dialogTemplate.controls) {
        QWidget* widget = builder.CreateControl(spec);
        widget->setProperty("ctrlId", spec.id);
        widget->setAccessibleName(spec.name.isEmpty() ? spec.caption : spec.name);
        if (spec.id != -1)
            controls[spec.id] = widget;
    }
    // Backdrops stay behind the controls drawn over them and let clicks through.
    for (QObject* child : dialog->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && widget->property("backdrop").toBool())
            widget->lower();
    }
    for (QObject* child : dialog->children()) {
        if (auto* box = qobject_cast<QGroupBox*>(child))
            box->lower();
    }
    return controls;
}
