#include "ui/WizardDlg.h"

#include "input/NqUtils.h"
#include "settings/BrandProfile.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "ui/DialogScale.h"
#include "ui/MonitorSelWidget.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <tuple>
#include <utility>

using DialogScale::make;

namespace {
// Keys of the language table, as 0-based indexes.
int C(int key) { return key - 1; }
int M(int key) { return key - 1; }
int T(int key) { return key - 1; }

constexpr int kLensCount = 4;      // 0..2 shown, 3 the hidden fourth model
constexpr int kInfoLineHeight = 20;
const char *const kInfoStyle = "background-color: rgb(240, 240, 240);";

// A page of the wizard's stack.
QWidget *addPage(QStackedWidget *stack, const char *name)
{
    auto *page = new QWidget;
    page->setObjectName(QLatin1String(name));
    stack->addWidget(page);
    return page;
}

// Row `row` of a group's column of radio or check buttons.
template <typename B>
B *groupRow(QGroupBox *group, const char *name, int row, int width = 298)
{
    return make<B>(group, name, 12, 24 + 26 * row, width, 22);
}

// A thin divider at `y` and the description box under it, across the group.
std::pair<QLabel *, QTextEdit *> dividedText(QGroupBox *group, const char *divider, const char *text, int y)
{
    return {make<QLabel>(group, divider, 16, y, 586, 4), make<QTextEdit>(group, text, 16, y + 6, 586, 72)};
}

// A calibration method: its button at `y` and the description beside it.
std::pair<QPushButton *, QTextEdit *> methodRow(QGroupBox *group, const char *button, const char *text, int y)
{
    return {make<QPushButton>(group, button, 16, y, 140, 86), make<QTextEdit>(group, text, 166, y, 436, 86)};
}

QString driverVersion()
{
    const QString v = QCoreApplication::applicationVersion();
    return v.isEmpty() ? QString::fromLatin1(tl::kDriverVersion) : v;
}
} // namespace

WizardDlg::WizardDlg(QWidget *parent, ConfigFileRW *settings, LanguageTable *language)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_settings(settings)
    , m_language(language)
{
    setObjectName("WizardDlg");
    buildForm();
    m_dpiRatio = DialogScale::pixelRatio();
    qDebug() << "WizardDlg::WizardDlg(): m_dpiRatio =" << m_dpiRatio;
    setFixedSize(DialogScale::scaled(width(), m_dpiRatio), DialogScale::scaled(height(), m_dpiRatio));
    DialogScale::scaleChildren(this, m_dpiRatio);
    DialogScale::applyLanguageFont(this, m_language);
    for (QTextEdit *box : {textEditInfo, textEditInfo1, textEditInfo2, textEditInfo3, textEditInfo4})
        box->setStyleSheet(kInfoStyle);
    // Some styles size a group's title box to the measured text and then lose
    // the last letter of a few titles; a little room at its end keeps them whole.
    for (QGroupBox *group : findChildren<QGroupBox *>())
        group->setStyleSheet("QGroupBox::title { padding-right: 4px; }");
    applyBrandVisibility();
    connectControls();
    for (QGroupBox *group : findChildren<QGroupBox *>())
        for (QWidget *child : group->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (!child->objectName().isEmpty() && !child->objectName().startsWith(QLatin1String("qt_")))
                m_designTop.insert(child, child->y());
}

WizardDlg::~WizardDlg() = default;

void WizardDlg::buildForm()
{
    resize(640, 474);
    labelBanner = make<QLabel>(this, "labelBanner", 11, 8, 618, 90);
    labelBanner->setPixmap(QPixmap(":/Corvane/vis"));
    labelBanner->setScaledContents(true);

    stackedWidget = make<QStackedWidget>(this, "stackedWidget", 11, 106, 618, 316);
    page_1 = addPage(stackedWidget, "page");
    page_2 = addPage(stackedWidget, "page_2");
    page_3 = addPage(stackedWidget, "page_3");

    // First page: two columns of groups.
    groupLens = make<QGroupBox>(page_1, "groupLens", 0, 0, 320, 108);
    radioTBLens = groupRow<QRadioButton>(groupLens, "radioTBLens", 0);
    radioTALens = groupRow<QRadioButton>(groupLens, "radioTALens", 1);
    // The fourth and fifth models take the third row where a brand shows them.
    radioTULens = groupRow<QRadioButton>(groupLens, "radioTULens", 2);
    radioLens4 = groupRow<QRadioButton>(groupLens, "radioLens4", 2);
    radioLens5 = groupRow<QRadioButton>(groupLens, "radioLens5", 2);

    groupPen = make<QGroupBox>(page_1, "groupPen", 0, 116, 320, 82);
    radioNormal = groupRow<QRadioButton>(groupPen, "radioNormal", 0);
    radioPlus = groupRow<QRadioButton>(groupPen, "radioPlus", 1);

    groupBasic = make<QGroupBox>(page_1, "groupBasic", 0, 206, 320, 108);
    checkAutoStart = groupRow<QCheckBox>(groupBasic, "checkAutoStart", 0);
    checkCelling = groupRow<QCheckBox>(groupBasic, "checkCelling", 1);
    checkRear = groupRow<QCheckBox>(groupBasic, "checkRear", 2);

    groupLanguage = make<QGroupBox>(page_1, "groupLanguage", 332, 0, 286, 108);
    labelUse = make<QLabel>(groupLanguage, "labelUse", 12, 26, 130, 22);
    labelUseL = make<QLabel>(groupLanguage, "labelUseL", 146, 26, 128, 22);
    labelUseL->setEnabled(false);
    labelSel = make<QLabel>(groupLanguage, "labelSel", 12, 66, 130, 22);
    comboLanguage = make<QComboBox>(groupLanguage, "comboLanguage", 146, 63, 128, 28);

    groupMonitor = make<QGroupBox>(page_1, "groupMonitor", 332, 116, 286, 198);
    widgetMonitorSel = make<MonitorSelWidget>(groupMonitor, "widgetMonitorSel", 12, 26, 262, 160);

    // The update area and the version labels belong to other brands' builds.
    groupUpdate = make<QGroupBox>(page_1, "groupUpdate", 0, 230, 618, 84);
    radioDefaultServer = groupRow<QRadioButton>(groupUpdate, "radioDefaultServer", 0, 260);
    radioOtherServer = groupRow<QRadioButton>(groupUpdate, "radioOtherServer", 1, 220);
    comboServerList = make<QComboBox>(groupUpdate, "comboServerList", 284, 48, 170, 26);
    comboServerList->setEnabled(false);
    pushUpdate = make<QPushButton>(groupUpdate, "pushUpdate", 464, 46, 84, 28);
    textEditInfo = make<QTextEdit>(page_1, "textEditInfo", 0, 230, 618, 60);
    textEditInfo->setEnabled(false);
    labelHWVersion = make<QLabel>(page_1, "labelHWVersion", 0, 296, 320, 20);
    labelSWVersion = make<QLabel>(page_1, "labelSWVersion", 332, 296, 286, 20);

    // Second page: the way to the alignment view.
    groupAdjust = make<QGroupBox>(page_2, "groupAdjust", 0, 0, 618, 314);
    std::tie(labelInfo1, textEditInfo1) = dividedText(groupAdjust, "labelInfo1", "textEditInfo1", 28);
    std::tie(labelInfo2, textEditInfo2) = dividedText(groupAdjust, "labelInfo2", "textEditInfo2", 112);
    pushView = make<QPushButton>(groupAdjust, "pushView", 189, 220, 240, 40);

    // Third page: the calibration methods.
    groupCalib = make<QGroupBox>(page_3, "groupCalib", 0, 0, 618, 314);
    labelInfo3 = make<QLabel>(groupCalib, "labelInfo3", 16, 30, 586, 40);
    labelInfo3->setWordWrap(true);
    std::tie(pushAutoCalib, textEditInfo3) = methodRow(groupCalib, "pushAutoCalib", "textEditInfo3", 84);
    labelInfo4 = make<QLabel>(groupCalib, "labelInfo4", 16, 176, 586, 4);
    std::tie(pushManualCalib, textEditInfo4) = methodRow(groupCalib, "pushManualCalib", "textEditInfo4", 190);
    labelInfo5 = make<QLabel>(groupCalib, "labelInfo5", 16, 282, 586, 4);

    for (QTextEdit *box : {textEditInfo, textEditInfo1, textEditInfo2, textEditInfo3, textEditInfo4}) {
        box->setReadOnly(true);
        box->setFrameShape(QFrame::NoFrame);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setTextInteractionFlags(Qt::NoTextInteraction);
        box->setFocusPolicy(Qt::NoFocus);
    }

    pushPre = make<QPushButton>(this, "pushPre", 305, 432, 104, 30);
    pushNext = make<QPushButton>(this, "pushNext", 415, 432, 104, 30);
    pushCancel = make<QPushButton>(this, "pushCancel", 525, 432, 104, 30);
    pushNext->setDefault(true);
    pushNext->setAutoDefault(true);
    pushPre->setAutoDefault(false);
    pushCancel->setAutoDefault(false);
}

void WizardDlg::applyBrandVisibility()
{
    radioLens4->setVisible(tl::kBrand.wizardShowsExtraModels);
    radioLens5->setVisible(tl::kBrand.wizardShowsExtraModels);
    checkRear->setVisible(tl::kBrand.wizardShowsRear);
    for (QWidget *w : std::initializer_list<QWidget *>{groupUpdate, textEditInfo, labelHWVersion, labelSWVersion})
        w->setVisible(tl::kBrand.wizardShowsUpdateArea);
}

void WizardDlg::connectControls()
{
    connect(pushCancel, &QPushButton::clicked, this, &WizardDlg::clickCancel);
    connect(pushPre, &QPushButton::clicked, this, &WizardDlg::clickPre);
    connect(pushNext, &QPushButton::clicked, this, &WizardDlg::clickNext);
    connect(pushUpdate, &QPushButton::clicked, this, &WizardDlg::clickUpdate);
    connect(pushView, &QPushButton::clicked, this, &WizardDlg::clickView);
    connect(pushAutoCalib, &QPushButton::clicked, this, &WizardDlg::clickAutoCalib);
    connect(pushManualCalib, &QPushButton::clicked, this, &WizardDlg::clickManualCalib);
    connect(radioTBLens, &QRadioButton::clicked, this, &WizardDlg::clickTBLens);
    connect(radioTALens, &QRadioButton::clicked, this, &WizardDlg::clickTALens);
    connect(radioTULens, &QRadioButton::clicked, this, &WizardDlg::clickTULens);
    connect(radioLens4, &QRadioButton::clicked, this, &WizardDlg::clickLens4);
    connect(radioLens5, &QRadioButton::clicked, this, &WizardDlg::clickLens5);
    connect(radioDefaultServer, &QRadioButton::clicked, this, &WizardDlg::clickDefaultServer);
    connect(radioOtherServer, &QRadioButton::clicked, this, &WizardDlg::clickOtherServer);
    connect(checkAutoStart, &QCheckBox::clicked, this, &WizardDlg::clickAutoStart);
    connect(checkCelling, &QCheckBox::clicked, this, &WizardDlg::clickCelling);
    connect(checkRear, &QCheckBox::clicked, this, &WizardDlg::clickRear);
    connect(comboLanguage, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &WizardDlg::changeLanguage);
    connect(comboServerList, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &WizardDlg::changeServerList);
    connect(widgetMonitorSel, &MonitorSelWidget::selChanged, this, &WizardDlg::changeMonitor);
    connect(radioNormal, &QRadioButton::clicked, this, &WizardDlg::clickNormal);
    connect(radioPlus, &QRadioButton::clicked, this, &WizardDlg::clickPlus);
}

// ---- stored values in range -------------------------------------------------

int WizardDlg::storedLens() const
{
    const int v = m_settings->getLensSelect();
    // An unknown model shows as the default one, ultra short throw.
    return (v >= 0 && v < kLensCount) ? v : 2;
}

int WizardDlg::storedPen() const
{
    const int v = m_settings->getPenSelect();
    return (v == 0 || v == 1) ? v : 0;
}

int WizardDlg::storedMonitor() const
{
    // Kept as stored even when that monitor is not there now (it may be
    // unplugged for a while): only the user's pick on the map replaces it. The
    // map itself shows the primary monitor then.
    return m_settings->getMonitor();
}

// ---- one opening ------------------------------------------------------------

void WizardDlg::initialize(bool setupMode, int deviceCount, const QString &firmwareText, int modelType)
{
    Q_UNUSED(deviceCount)
    Q_UNUSED(modelType)
    // 1.
    m_bSetupMode = setupMode;
    m_sFirmware = firmwareText;
    disconnect(comboLanguage, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
               &WizardDlg::changeLanguage);

    // 2.
    for (QTextEdit *box : {textEditInfo, textEditInfo1, textEditInfo2, textEditInfo3, textEditInfo4}) {
        box->clear();
        box->setFont(font());
    }
    comboLanguage->clear();

    // 3.
    const LanguageTable &l = *m_language;
    setWindowTitle(l.configText(C(1)));
    pushPre->setText(l.configText(C(11)));
    pushPre->setEnabled(false);
    pushNext->setText(l.configText(C(12)));
    pushCancel->setText(l.configText(C(13)));
    groupLens->setTitle(l.configText(C(25)));
    radioTBLens->setText(l.configText(C(17)));
    radioTALens->setText(l.configText(C(21)));
    radioTULens->setText(l.configText(C(18)));
    groupPen->setTitle(l.configText(C(32)));
    radioNormal->setText(l.configText(C(33)));
    radioPlus->setText(l.configText(C(34)));
    groupBasic->setTitle(l.configText(C(4)));
    checkAutoStart->setText(l.configText(C(5)));
    checkCelling->setText(l.configText(C(19)));
    checkRear->setText(l.configText(C(20)));
    groupLanguage->setTitle(l.configText(C(22)));
    labelUse->setText(l.configText(C(23)));
    labelSel->setText(l.configText(C(24)));
    groupUpdate->setTitle(l.configText(C(8)));
    radioDefaultServer->setText(l.configText(C(9)));
    radioOtherServer->setText(l.configText(C(10)));
    pushUpdate->setText(l.configText(C(7)));
    pushUpdate->setEnabled(false);
    groupMonitor->setTitle(l.configText(C(31)));
    groupAdjust->setTitle(l.configText(C(26)));
    pushView->setText(l.trayText(T(2)));
    groupCalib->setTitle(l.configText(C(27)));
    labelInfo3->setText(l.messageText(M(11)));
    pushAutoCalib->setText(l.configText(C(16)));
    pushManualCalib->setText(l.configText(C(15)));

    // 4. Stored values outside their ranges show a sensible choice.
    QRadioButton *lens[kLensCount] = {radioTBLens, radioTALens, radioTULens, radioLens4};
    lens[storedLens()]->setChecked(true);
    (storedPen() == 1 ? radioPlus : radioNormal)->setChecked(true);
    checkAutoStart->setChecked(m_settings->getStartProgram());
    checkCelling->setChecked(m_settings->getCheckCeiling());
    checkRear->setChecked(m_settings->getCheckRear());

    // 5.
    for (int i = 0; i < LanguageTable::kLanguageCount; ++i)
        comboLanguage->addItem(l.languageName(i));
    comboLanguage->setCurrentIndex(l.languageIndex());
    labelUseL->setText(l.languageName(l.languageIndex()));

    // 6.
    labelSWVersion->setText("Driver Version : " + driverVersion());
    labelHWVersion->setText("Firmware Version : " + m_sFirmware);

    // 7.
    fillInfoBox(textEditInfo1, l.messageText(M(9)));
    fillInfoBox(textEditInfo2, l.messageText(M(10)));
    fillInfoBox(textEditInfo3, l.messageText(M(13)));
    fillInfoBox(textEditInfo4, l.messageText(M(12)));

    // 8.
    goToPage(0);
    m_nLens = storedLens();
    m_bCeiling = m_settings->getCheckCeiling();
    m_bRear = m_settings->getCheckRear();
    m_nPen = storedPen();
    m_nMonitor = storedMonitor();

    // 9. Once per dialog: the texts change with nothing but a restart. The map
    // of the monitors keeps the desktop's own left and right.
    if (m_language->isRightToLeft() && !m_bMirrored) {
        for (QGroupBox *group :
             {groupLens, groupPen, groupBasic, groupLanguage, groupMonitor, groupUpdate, groupAdjust, groupCalib})
            mirrorForRightToLeft(group);
        widgetMonitorSel->setLayoutDirection(Qt::LeftToRight);
        radioOtherServer->resize(radioDefaultServer->width(), radioOtherServer->height());
        m_bMirrored = true;
    }
    // The titles are set: keep every group's controls below its title.
    for (QGroupBox *group : findChildren<QGroupBox *>())
        fitInsideGroup(group);

    // 10.
    QList<QRect> monitors;
    NqUtils::getWindowRectAll(monitors);
    const bool chooseMonitor = monitors.size() > 1 && m_settings->getNumOfCamDevice() == 1;
    groupMonitor->setVisible(chooseMonitor);
    if (chooseMonitor)
        widgetMonitorSel->initialize(m_language, m_nMonitor);

    // 11.
    connect(comboLanguage, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &WizardDlg::changeLanguage);

    // Open in the middle of the primary screen: the hidden main window gives
    // no place of its own.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - QPoint(width() / 2, height() / 2));
    }
}

void WizardDlg::fillInfoBox(QTextEdit *box, const QString &text)
{
    QTextCursor cursor(box->document());
    QTextBlockFormat format;
    format.setAlignment(Qt::AlignJustify);
    format.setLineHeight(kInfoLineHeight, QTextBlockFormat::FixedHeight);
    if (m_language->isRightToLeft())
        format.setLayoutDirection(Qt::RightToLeft);
    cursor.setBlockFormat(format);
    cursor.insertText(text);
}

void WizardDlg::mirrorForRightToLeft(QGroupBox *group)
{
    group->setLayoutDirection(Qt::RightToLeft);
    // The controls are placed by hand: mirror their places inside the group
    // as a laid-out form would be.
    const int w = group->width();
    for (QWidget *child : group->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        const QRect g = child->geometry();
        child->move(w - g.x() - g.width(), g.y());
    }
}

void WizardDlg::fitInsideGroup(QGroupBox *group)
{
    // The designer places assume a title one line of the Latin font high. A
    // script whose fallback font is taller (Arabic, Persian) makes the title and
    // with it the top border lower: move the controls down under it, closing up
    // the space between the rows as far as the group's height needs.
    const QList<QWidget *> children = group->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    int top = INT_MAX;
    for (QWidget *child : children) {
        auto it = m_designTop.constFind(child);
        if (it == m_designTop.constEnd())
            continue;
        child->move(child->x(), *it);
        if (!child->isHidden())
            top = std::min(top, *it);
    }
    const QRect inside = group->contentsRect();
    if (top == INT_MAX || top >= inside.top())
        return;
    const int lead = DialogScale::scaled(2, m_dpiRatio);
    const int first = inside.top() + lead;
    const int last = inside.bottom() + 1 - lead;   // bottoms end above it
    double squeeze = 1.0;
    for (QWidget *child : children) {
        if (child->isHidden() || !m_designTop.contains(child))
            continue;
        const int below = m_designTop.value(child) - top;
        if (below > 0)
            squeeze = std::min(squeeze, double(last - first - child->height()) / below);
    }
    squeeze = std::max(0.0, squeeze);
    for (QWidget *child : children) {
        auto it = m_designTop.constFind(child);
        if (it != m_designTop.constEnd())
            child->move(child->x(), first + int((*it - top) * squeeze + 0.5));
    }
}

int WizardDlg::page() const
{
    return stackedWidget->currentIndex();
}

void WizardDlg::goToPage(int page)
{
    stackedWidget->setCurrentIndex(page);
    const LanguageTable &l = *m_language;
    setWindowTitle(l.configText(C(page == 0 ? 1 : page == 1 ? 2 : 3)));
    pushPre->setEnabled(page > 0);
    pushNext->setText(l.configText(C(page == 2 ? 14 : 12)));
}

// ---- slots ------------------------------------------------------------------

void WizardDlg::clickTBLens() { m_nLens = 0; }
void WizardDlg::clickTALens() { m_nLens = 1; }
void WizardDlg::clickTULens() { m_nLens = 2; }
void WizardDlg::clickLens4() { m_nLens = 3; }
void WizardDlg::clickLens5() {}
void WizardDlg::clickNormal() { m_nPen = 0; }
void WizardDlg::clickPlus() { m_nPen = 1; }
void WizardDlg::clickCelling() { m_bCeiling = checkCelling->isChecked(); }
void WizardDlg::clickRear() { m_bRear = checkRear->isChecked(); }
void WizardDlg::changeMonitor(int index) { m_nMonitor = index; }
void WizardDlg::clickUpdate() {}
void WizardDlg::clickDefaultServer() {}
void WizardDlg::clickOtherServer() {}
void WizardDlg::changeServerList(int) {}

void WizardDlg::clickAutoStart()
{
    m_settings->setStartProgram(checkAutoStart->isChecked());
}

void WizardDlg::changeLanguage(int index)
{
    if (index < 0 || index >= LanguageTable::kLanguageCount)
        return;
    qDebug() << "changeLanguage:" << m_settings->getLanguageId() << index + 1;
    m_settings->setLanguageId(index + 1);
    // The notice runs once the list has finished with the choice: the program
    // may end while it is open (a logout) and delete the wizard with the list,
    // which must not be in the middle of its own signal then.
    QTimer::singleShot(0, this, [this] {
        QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Information, windowTitle(),
                                                    m_language->messageText(M(21)), QMessageBox::Ok, this);
        box->setFont(font());
        box->exec();
        delete box.data();
    });
}

void WizardDlg::clickView() { emit reStartDisplay(); }
void WizardDlg::clickAutoCalib() { emit reStartACalibration(); }
void WizardDlg::clickManualCalib() { emit reStartMCalibration(); }

void WizardDlg::clickCancel()
{
    hide();
    if (m_bSetupMode)
        emit callClose();
}

void WizardDlg::reject()
{
    if (isVisible())
        clickCancel();
}

void WizardDlg::closeEvent(QCloseEvent *event)
{
    // The frame's close button only hides the wizard.
    event->accept();
    hide();
}

bool WizardDlg::pendingDiffers() const
{
    return m_nLens != storedLens() || m_nMonitor != storedMonitor() || m_bCeiling != m_settings->getCheckCeiling()
        || m_bRear != m_settings->getCheckRear() || m_nPen != storedPen();
}

void WizardDlg::applyPending()
{
    m_settings->setLensSelect(m_nLens);
    m_settings->setCheckCeiling(m_bCeiling);
    m_settings->setCheckRear(m_bRear);
    m_settings->setPenSelect(m_nPen);
    m_settings->setMonitor(m_nMonitor);
    emit workingDoneFirm();
}

void WizardDlg::clickNext()
{
    const int current = page();
    if (current == 0) {
        if (m_bSetupMode) {
            applyPending();
        } else if (pendingDiffers()) {
            // On the heap, a child of the wizard: the program may end while the
            // question is open (a logout) and delete the wizard, and the box
            // with it, under the running box.
            QPointer<WizardDlg> self(this);
            QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Information, windowTitle(),
                                                        m_language->messageText(M(5)), QMessageBox::NoButton, this);
            box->setObjectName("wizardChangeQuestion");
            box->setFont(font());
            QPushButton *finish = box->addButton(m_language->configText(C(14)), QMessageBox::AcceptRole);
            QPushButton *cancel = box->addButton(m_language->configText(C(13)), QMessageBox::RejectRole);
            box->setDefaultButton(finish);
            box->exec();
            if (!self || !box)
                return;
            QAbstractButton *clicked = box->clickedButton();
            delete box.data();
            if (clicked == cancel)
                return;
            if (clicked == finish)
                applyPending();
        }
        goToPage(1);
    } else if (current == 1) {
        goToPage(2);
    } else {
        m_bSetupMode = false;
        emit workingDoneFile();
        hide();
    }
}

void WizardDlg::clickPre()
{
    const int current = page();
    if (current > 0)
        goToPage(current - 1);
}

void WizardDlg::showEvent(QShowEvent *event)
{
    DialogScale::standAloneIfOwnerHidden(this);
    QDialog::showEvent(event);
}
