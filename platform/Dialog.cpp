#include "platform/Dialog.h"

#include "platform/DateTimeCtrl.h"
#include "platform/PathEllipsis.h"
#include "platform/Platform.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QEvent>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

// A static text that expands tab characters when it draws, with a tab stop every eight average
// character widths, as the platform's static controls did.
class TabStatic : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QTextOption option(alignment());
        option.setWrapMode(QTextOption::NoWrap);
        option.setTabStopDistance(8 * fontMetrics().averageCharWidth());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRectF(rect()), text(), option);
    }
};

// A static text that shortens a path in its middle when it does not fit (see ElidePathText); its
// text stays whole, for its readers and its tool tip.
class PathStatic : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QFontMetrics fm = fontMetrics();
        const QString shown = ElidePathText(
            text(), [&fm](const QString& t) { return fm.horizontalAdvance(t); }, contentsRect().width());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, shown);
    }
};

QFont templateFont(const DlgTemplate& t) {
    // The template fonts of the original platform ("System" 10 pt, "MS Sans Serif" 8 pt) map to one
    // face that carries both Latin and Chinese letters, at the pixel size whose base units are the
    // original fonts' own (8 x 16 and 6 x 13 pixels), so every dialog keeps its designed size.
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(t.fontPoints >= 10 ? 14 : 11);
    return font;
}

} // namespace

void CDataExchange::Fail(QWidget* control) {
    m_bFailed = true;
    if (control) {
        control->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(control))
            edit->selectAll();
    }
}

CDialog::CDialog(int templateId, QWidget* parent) : QDialog(parent), m_nTemplateId(templateId) {
    // Built without a parent, the dialog belongs to the main window as its owner only: it stays on
    // top of it and is modal over it, but it is not the main window's child, so closing the main
    // window (the login's exit button) never destroys a dialog that lives on the caller's stack.
    if (!parent)
        m_owner = AfxGetMainWnd();
}

CDialog::~CDialog() {
    for (QTimer* t : std::as_const(m_timers))
        t->stop();
}

BOOL CDialog::Create() {
    if (m_bCreated)
        return TRUE;
    m_bCreated = true;
    BuildFromTemplate();
    OnInitDialog();
    return TRUE;
}

int CDialog::DoModal() {
    Create();
    if (m_owner) {
        winId();
        if (QWindow* owner = m_owner->windowHandle())
            windowHandle()->setTransientParent(owner);
    }
    if (m_bEnded) // ended during its own initialisation
        return result();
    return exec();
}

void CDialog::EndDialog(int result) {
    m_bEnded = true;
    done(result);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnTimer(UINT) {}

void CDialog::OnCommand(int id) {
    if (auto it = m_commands.constFind(id); it != m_commands.cend()) {
        (*it)();
        return;
    }
    if (id == IDOK) {
        OnOK();
        return;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return;
    }
    RouteUnhandledCommand(id);
}

void CDialog::OnEditSetFocus(int) {}

void CDialog::MapCommand(int id, std::function<void()> handler) {
    m_commands[id] = std::move(handler);
}

void CDialog::reject() {
    OnCancel();
}
void CDialog::accept() {
    OnOK();
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return dx.m_bFailed ? FALSE : TRUE;
}

QWidget* CDialog::GetDlgItem(int id) const {
    return m_controls.value(id);
}

void CDialog::SetDlgItemText(int id, const QString& text) {
    QWidget* w = GetDlgItem(id);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(w))
        group->setTitle(text);
}

QString CDialog::GetDlgItemText(int id) const {
    QWidget* w = GetDlgItem(id);
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    return {};
}

UINT CDialog::SetTimer(UINT id, UINT elapseMs) {
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    timer->start(int(elapseMs));
    return id;
}

BOOL CDialog::KillTimer(UINT id) {
    QTimer* timer = m_timers.value(id);
    if (!timer || !timer->isActive())
        return FALSE;
    timer->stop();
    return TRUE;
}

bool CDialog::IsTimerRunning(UINT id) const {
    QTimer* timer = m_timers.value(id);
    return timer && timer->isActive();
}

int CDialog::TimerPeriod(UINT id) const {
    return IsTimerRunning(id) ? m_timers.value(id)->interval() : -1;
}

QRect CDialog::MapDialogRect(int x, int y, int cx, int cy) const {
    // Rounded as the platform's MulDiv did.
    auto mx = [this](int v) { return (v * m_baseX + (v >= 0 ? 2 : -2)) / 4; };
    auto my = [this](int v) { return (v * m_baseY + (v >= 0 ? 4 : -4)) / 8; };
    return QRect(mx(x), my(y), mx(cx), my(cy));
}

void CDialog::BuildFromTemplate() {
    const DlgTemplate* t = FindDialogTemplate(m_nTemplateId);
    if (!t)
        return;
    const QFont font = templateFont(*t);
    setFont(font);
    const QFontMetrics fm(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    m_baseY = fm.height();

    setWindowTitle(QString::fromUtf8(t->title));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (t->systemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    setWindowFlags(flags);

    QPalette pal = palette();
    const QColor bk(GetRValue(DialogBkColor()), GetGValue(DialogBkColor()), GetBValue(DialogBkColor()));
    const QColor fg(GetRValue(DialogTextColor()), GetGValue(DialogTextColor()), GetBValue(DialogTextColor()));
    pal.setColor(QPalette::Window, bk);
    pal.setColor(QPalette::Button, bk);
    pal.setColor(QPalette::WindowText, fg);
    pal.setColor(QPalette::ButtonText, fg);
    setPalette(pal);
    setAutoFillBackground(true);

    setFixedSize(MapDialogRect(0, 0, t->cx, t->cy).size());
    for (const DlgControl& c : t->controls) {
        QWidget* w = CreateControl(c);
        w->setGeometry(MapDialogRect(c.x, c.y, c.cx, c.cy));
        if (c.style & WS_DISABLED)
            w->setEnabled(false);
        if (c.style & WS_HIDDEN)
            w->hide();
        if (c.kind == DlgCtl::GroupBox)
            w->lower();
        if (c.id != IDC_STATIC)
            WireControl(c.id, w);
    }
}

QWidget* CDialog::CreateControl(const DlgControl& c) {
    const QString text = QString::fromUtf8(c.text ? c.text : "");
    switch (c.kind) {
    case DlgCtl::PushButton:
    case DlgCtl::DefPushButton: {
        // Only the template's default button is ever the default: Qt's auto-default buttons (the
        // first button taking Enter) are not the platform's.
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);
        b->setDefault(c.kind == DlgCtl::DefPushButton);
        return b;
    }
    case DlgCtl::LText:
    case DlgCtl::RText:
    case DlgCtl::CText: {
        QLabel* l = (c.style & SS_TABS)           ? new TabStatic(this)
                    : (c.style & SS_PATHELLIPSIS) ? new PathStatic(this)
                                                  : new QLabel(this);
        l->setTextFormat(Qt::PlainText);
        l->setText(text);
        const Qt::Alignment h = c.kind == DlgCtl::RText   ? Qt::AlignRight
                                : c.kind == DlgCtl::CText ? Qt::AlignHCenter
                                                          : Qt::AlignLeft;
        l->setAlignment(h | Qt::AlignTop);
        if (c.style & SS_SUNKEN)
            l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        return l;
    }
    case DlgCtl::GroupBox:
        return new QGroupBox(text, this);
    case DlgCtl::Edit: {
        auto* e = new QLineEdit(text, this);
        if (c.style & ES_PASSWORD)
            e->setEchoMode(QLineEdit::Password);
        e->setReadOnly(c.style & ES_READONLY);
        return e;
    }
    case DlgCtl::ComboBox: {
        auto* cb = new QComboBox(this);
        if (!text.isEmpty())
            cb->addItems(text.split('\n'));
        cb->setCurrentIndex(-1);
        return cb;
    }
    case DlgCtl::ListBox:
        return new QListWidget(this);
    case DlgCtl::Icon: {
        auto* l = new QLabel(this);
        l->setPixmap(QIcon(QStringLiteral(":/res/bitmaps/icon128.png")).pixmap(32, 32));
        return l;
    }
    case DlgCtl::DatePicker:
    case DlgCtl::TimePicker: {
        auto* d = new CDateTimeCtrl(this);
        d->setDisplayFormat(c.kind == DlgCtl::DatePicker ? QStringLiteral("yyyy-M-d")
                                                         : QStringLiteral("H:mm:ss"));
        d->setCalendarPopup(c.kind == DlgCtl::DatePicker);
        return d;
    }
    case DlgCtl::Progress: {
        auto* p = new QProgressBar(this);
        p->setTextVisible(false);
        p->setRange(0, 100);
        p->setValue(0);
        return p;
    }
    case DlgCtl::Serial: {
        auto* w = new QWidget(this);
        w->hide();
        return w;
    }
    }
    return new QWidget(this);
}

void CDialog::WireControl(int id, QWidget* w) {
    m_controls[id] = w;
    w->setProperty("dlgId", id);
    w->setObjectName(QStringLiteral("ctl%1").arg(id));
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        connect(b, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
    if (qobject_cast<QLineEdit*>(w) || (qobject_cast<QPushButton*>(w) && !IsOwnerDrawn(id)))
        w->installEventFilter(this);
}

void CDialog::ReplaceDlgItem(int id, QWidget* replacement) {
    QWidget* old = GetDlgItem(id);
    replacement->setParent(this);
    replacement->setFont(font());
    if (old) {
        replacement->setGeometry(old->geometry());
        replacement->setEnabled(old->isEnabled());
        replacement->setVisible(!old->isHidden());
        auto* ob = qobject_cast<QPushButton*>(old);
        auto* nb = qobject_cast<QPushButton*>(replacement);
        if (nb)
            nb->setAutoDefault(false);
        if (ob && nb) {
            nb->setText(ob->text());
            nb->setDefault(ob->isDefault());
        }
        replacement->stackUnder(old);
        QWidget::setTabOrder(old, replacement);
        // Before the dialog is shown nothing of the old control is running; later, the exchange
        // that replaces it may come from its own click.
        if (isVisible())
            DestroyWidgetLater(old);
        else
            delete old;
    } else {
        replacement->show();
    }
    WireControl(id, replacement);
}

bool CDialog::IsOwnerDrawn(int id) const {
    if (const DlgTemplate* t = FindDialogTemplate(m_nTemplateId))
        for (const DlgControl& c : t->controls)
            if (c.id == id)
                return c.style & BS_OWNERDRAW;
    return false;
}

void CDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (!enter || mods != Qt::NoModifier) {
        QDialog::keyPressEvent(event); // Escape: reject(), that is OnCancel
        return;
    }
    event->accept();
    for (const QPointer<QWidget>& w : std::as_const(m_controls)) {
        auto* button = qobject_cast<QPushButton*>(w.data());
        if (button && button->isDefault() && !button->isHidden()) {
            if (button->isEnabled())
                button->click();
            return;
        }
    }
    OnCommand(IDOK);
}

void CDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_bPlaced)
        return;
    m_bPlaced = true;
    CenterOnOwner(this, parentWidget() ? parentWidget() : m_owner.data());
}

bool CDialog::eventFilter(QObject* watched, QEvent* event) {
    // A plain push button with the focus takes Enter itself (QPushButton would only as a default or
    // auto-default button).
    if (event->type() == QEvent::KeyPress && qobject_cast<QPushButton*>(watched)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (auto* button = static_cast<QPushButton*>(watched); button->isEnabled())
                button->click();
            return true;
        }
    }
    if (event->type() == QEvent::FocusIn) {
        if (auto* w = qobject_cast<QWidget*>(watched)) {
            const QVariant id = w->property("dlgId");
            if (id.isValid())
                OnEditSetFocus(id.toInt());
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- standard data exchange -------------------------------------------------------------------

void DDX_Text(CDataExchange* pDX, int id, QString& value) {
    if (pDX->m_bFailed)
        return;
    QWidget* w = pDX->m_pDlgWnd->GetDlgItem(id);
    pDX->m_pLastControl = w;
    pDX->m_idLastControl = id;
    if (pDX->m_bSaveAndValidate)
        value = pDX->m_pDlgWnd->GetDlgItemText(id);
    else
        pDX->m_pDlgWnd->SetDlgItemText(id, value);
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
    if (pDX->m_bFailed)
        return;
    QWidget* w = pDX->m_pDlgWnd->GetDlgItem(id);
    pDX->m_pLastControl = w;
    pDX->m_idLastControl = id;
    if (!pDX->m_bSaveAndValidate) {
        pDX->m_pDlgWnd->SetDlgItemText(id, QString::number(value));
        return;
    }
    // A signed decimal number with optional blanks around it, nothing else.
    bool ok = false;
    const QString text = pDX->m_pDlgWnd->GetDlgItemText(id).trimmed();
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v < INT_MIN || v > INT_MAX) {
        MessageBox(pDX->m_pDlgWnd,
                   FrameworkChinese() ? QStringLiteral("请输入一个整数。")
                                      : QStringLiteral("Please enter an integer."),
                   AfxAppName(), MB_OK | MB_ICONEXCLAMATION);
        pDX->Fail(w);
        return;
    }
    value = int(v);
}

void DDV_MaxChars(CDataExchange* pDX, const QString& value, int maxChars) {
    if (pDX->m_bFailed)
        return;
    if (!pDX->m_bSaveAndValidate) {
        if (auto* edit = qobject_cast<QLineEdit*>(pDX->m_pLastControl))
            edit->setMaxLength(maxChars);
        return;
    }
    if (value.size() > maxChars) {
        const QString text = FrameworkChinese() ? QStringLiteral("输入的字符不能超过 %1 个。")
                                                : QStringLiteral("Enter no more than %1 characters.");
        MessageBox(pDX->m_pDlgWnd, text.arg(maxChars), AfxAppName(), MB_OK | MB_ICONEXCLAMATION);
        pDX->Fail(pDX->m_pLastControl);
    }
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal) {
    if (pDX->m_bFailed || !pDX->m_bSaveAndValidate)
        return;
    if (value < minVal || value > maxVal) {
        const QString text = FrameworkChinese()
                                 ? QStringLiteral("请输入一个介于 %1 和 %2 之间的整数。")
                                 : QStringLiteral("Please enter an integer between %1 and %2.");
        MessageBox(pDX->m_pDlgWnd, text.arg(minVal).arg(maxVal), AfxAppName(), MB_OK | MB_ICONEXCLAMATION);
        pDX->Fail(pDX->m_pLastControl);
    }
}
