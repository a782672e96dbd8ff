// Building a dialog's controls from its template: one widget per control, placed at its
// dialog-unit rectangle, in template order (which is also the tab order).
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

#include "Panes.h"
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

}  // namespace

void CDialogBase::BuildControls() {
    for (const ControlSpec& spec : m_template.controls) {
        QWidget* widget = CreateControl(spec);
        widget->setProperty("ctrlId", spec.id);
        widget->setAccessibleName(spec.name.isEmpty() ? spec.caption : spec.name);
        if (spec.id != -1)
            m_controls[spec.id] = widget;
    }
    // Backdrops stay behind the controls drawn over them and let clicks through.
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && widget->property("backdrop").toBool())
            widget->lower();
    }
    for (QObject* child : children()) {
        if (auto* box = qobject_cast<QGroupBox*>(child))
            box->lower();
    }
}

QWidget* CDialogBase::CreateControl(const ControlSpec& spec) {
    const QRect rect = DialogUnitsToPixels(spec.x, spec.y, spec.cx, spec.cy);
    const int id = spec.id;
    QWidget* widget = nullptr;
    switch (spec.kind) {
        case ControlKind::Button: {
            auto* button = new QPushButton(spec.caption, this);
            // Enter presses no button of the main window; other dialogs name a default one.
            const bool isDefault = (spec.style & Style::DefaultButton) != 0;
            button->setAutoDefault(isDefault);
            button->setDefault(isDefault);
            connect(button, &QPushButton::clicked, this,
                    [this, id] { Dispatch(id, Notification::Clicked); });
            widget = button;
            break;
        }
        case ControlKind::Edit:
            widget = CreateEdit(spec, rect);
            break;
        case ControlKind::Static:
            widget = CreateStatic(spec, this);
            break;
        case ControlKind::Icon: {
            auto* label = new QLabel(this);
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
            auto* box = new FrameGroupBox(spec.caption, this);
            if (spec.style & Style::Center)
                box->setAlignment(Qt::AlignHCenter);
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget = box;
            break;
        }
        case ControlKind::Hidden:
            widget = new QWidget(this);
            widget->hide();
            break;
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

QWidget* CDialogBase::CreateEdit(const ControlSpec& spec, const QRect&) {
    const int id = spec.id;
    if (!(spec.style & Style::Multiline)) {
        auto* edit = new FieldEdit(spec.caption, this);
        if (spec.style & Style::Number) {
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[0-9]*")), edit));
        }
        connect(edit, &QLineEdit::textChanged, this,
                [this, id] { Dispatch(id, Notification::Changed); });
        edit->onFocusLost = [this, id](Qt::FocusReason reason) { FieldLostFocus(id, reason); };
        return edit;
    }
    auto* edit = new QPlainTextEdit(this);
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
        m_paneScrollStyle->setParent(this);
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
    auto pane = std::make_unique<Pane>();
    pane->widget = edit;
    Pane* raw = pane.get();
    connect(edit, &QPlainTextEdit::textChanged, this, [this, raw, id] {
        if (!raw->writing)
            raw->diverged = true;
        Dispatch(id, Notification::Changed);
    });
    m_panes[id] = std::move(pane);
    return edit;
}

QWidget* CDialogBase::CreateComboBox(const ControlSpec& spec, const QRect& rect) {
    const int id = spec.id;
    auto* combo = new QComboBox(this);
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
    connect(combo->lineEdit(), &QLineEdit::textEdited, combo, [combo](const QString& text) {
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
    connect(combo->lineEdit(), &QLineEdit::editingFinished, combo, [combo, items] {
        if (combo->currentIndex() != -1)
            return;
        const int named = EntryNamedBy(items, combo->currentText());
        if (named != -1)
            combo->setCurrentIndex(named);
    });
    connect(combo, &QComboBox::currentIndexChanged, this,
            [this, id] { Dispatch(id, Notification::SelChange); });
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

QWidget* CDialogBase::CreatePicture(const ControlSpec& spec, const QRect& rect) {
    auto* label = new QLabel(this);
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
