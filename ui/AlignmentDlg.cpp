#include "ui/AlignmentDlg.h"

#include "input/NqUtils.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "ui/maskDlg.h"

#include <QCheckBox>
#include <QDebug>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLCDNumber>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cstring>

namespace {
constexpr int kBytesPerRow = AlignmentDlg::kImageWidth / 8;   // 80
constexpr int kControlsGap = 16;                              // image bottom -> controls
constexpr int kControlsHeight = 96;
constexpr int kMaskPanelHeight = 44;
constexpr int kMaskPanelGap = 10;

int scaled(int value, double ratio)
{
    return static_cast<int>(value * ratio + 0.5);
}
} // namespace

AlignmentDlg::AlignmentDlg(QWidget *parent, ConfigFileRW *settings, LanguageTable *language)
    : QDialog(parent)
    , m_psDataMgr(settings)
    , m_language(language)
{
    setObjectName("AlignmentDlg");
    m_pMaskBufBit = m_maskBuf.data();
    if (m_language) {
        setFont(m_language->dialogFont());
        if (m_language->isRightToLeft())
            setLayoutDirection(Qt::RightToLeft);
        setWindowTitle(m_language->configText(1));
    }
    buildControls();

    m_psMaskDlg = new maskDlg(this);
    m_psMaskDlg->hide();

    for (int i = 0; i < 2; ++i) {
        connect(m_ok[i], &QPushButton::clicked, this, &AlignmentDlg::clickOK);
        connect(m_slider[i], &QSlider::valueChanged, m_number[i], QOverload<int>::of(&QLCDNumber::display));
    }
    connect(m_pushB, &QPushButton::clicked, this, &AlignmentDlg::clickPushB);
    connect(m_change[0], &QCheckBox::clicked, this, &AlignmentDlg::clickConvert1);
    connect(m_change[1], &QCheckBox::clicked, this, &AlignmentDlg::clickConvert2);
    connect(m_slider[0], &QSlider::sliderReleased, this, &AlignmentDlg::valueAlignmentGain1);
    connect(m_slider[1], &QSlider::sliderReleased, this, &AlignmentDlg::valueAlignmentGain2);
    // A drag sends at its release (above); every other step of the user (keys,
    // wheel, a click in the groove) sends when the value has moved. Values the
    // program sets (the other slider following, an opening) send nothing more.
    // The device layer keeps only the latest gain of a module until its next
    // frame end, so a held key does not pile writes up.
    for (int i = 0; i < 2; ++i) {
        connect(m_slider[i], &QSlider::actionTriggered, this, [this, i](int action) {
            QSlider *s = m_slider[i];
            if (action == QAbstractSlider::SliderMove && s->isSliderDown())
                return;
            m_bUserStep[i] = s->sliderPosition() != s->value();
        });
        connect(m_slider[i], &QSlider::valueChanged, this, [this, i] { userMovedSlider(i); });
    }
    connect(m_draw, &QPushButton::clicked, this, &AlignmentDlg::onDraw);
    connect(m_eraser, &QPushButton::clicked, this, &AlignmentDlg::onEraser);
    connect(m_eraserAll, &QPushButton::clicked, this, &AlignmentDlg::onEraserAll);
    connect(this, &AlignmentDlg::sigDraw, m_psMaskDlg, &maskDlg::slotDraw);
    connect(this, &AlignmentDlg::sigEraserFree, m_psMaskDlg, &maskDlg::slotEraserFree);
    connect(this, &AlignmentDlg::sigEraserAll, m_psMaskDlg, &maskDlg::slotEraserAll);
}

AlignmentDlg::~AlignmentDlg()
{
    disconnect(this, nullptr, nullptr, nullptr);
}

void AlignmentDlg::buildControls()
{
    const QString exchange = m_language ? m_language->configText(27) : QStringLiteral("Exchange Camera");
    for (int i = 0; i < 2; ++i) {
        const QString n = QString::number(i + 1);
        m_label[i] = new QLabel(this);
        m_label[i]->setObjectName("label" + n);
        m_label[i]->setAlignment(Qt::AlignCenter);
        m_label[i]->setStyleSheet("background-color: black;");
        m_label[i]->resize(kImageWidth, kImageHeight);

        m_group[i] = new QGroupBox(this);
        m_group[i]->setObjectName("groupBox" + n);
        auto *rows = new QVBoxLayout(m_group[i]);
        auto *top = new QHBoxLayout;
        auto *bottom = new QHBoxLayout;
        rows->addLayout(top);
        rows->addLayout(bottom);

        m_labelBr[i] = new QLabel("BRIGHTNESS", m_group[i]);
        m_labelBr[i]->setObjectName("labelBr" + n);
        m_slider[i] = new QSlider(Qt::Horizontal, m_group[i]);
        m_slider[i]->setObjectName("hSlideAlignmentViewGain" + n);
        m_slider[i]->setRange(0, kLevels - 1);
        m_slider[i]->setPageStep(1);
        m_slider[i]->setTickPosition(QSlider::TicksBelow);
        m_slider[i]->setValue(m_nBrightnessLevel);
        m_number[i] = new QLCDNumber(1, m_group[i]);
        m_number[i]->setObjectName("numObjAlignmentViewGain" + n);
        m_number[i]->setSegmentStyle(QLCDNumber::Flat);
        m_number[i]->setMinimumWidth(36);
        m_number[i]->display(m_nBrightnessLevel);
        top->addWidget(m_labelBr[i]);
        top->addWidget(m_slider[i], 1);
        top->addWidget(m_number[i]);

        m_ok[i] = new QPushButton("OK", m_group[i]);
        m_ok[i]->setObjectName("pushButton" + n);
        m_change[i] = new QCheckBox(exchange, m_group[i]);
        m_change[i]->setObjectName("checkChangeDevice" + n);
        bottom->addWidget(m_change[i]);
        bottom->addStretch(1);
        if (i == 0) {
            m_pushB = new QPushButton("Mask", m_group[i]);
            m_pushB->setObjectName("pushB");
            bottom->addWidget(m_pushB);
        }
        bottom->addWidget(m_ok[i]);
    }

    m_frameMask = new QFrame(this);
    m_frameMask->setObjectName("frameMask");
    m_frameMask->setFrameShape(QFrame::StyledPanel);
    m_frameMask->setAutoFillBackground(true);
    auto *panel = new QHBoxLayout(m_frameMask);
    m_labelMask = new QLabel(m_language ? m_language->configText(34) : QString(), m_frameMask);
    m_labelMask->setObjectName("labelMask");
    if (m_language && m_language->isRightToLeft()) {
        m_labelMask->setLayoutDirection(Qt::RightToLeft);
        m_labelMask->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    panel->addWidget(m_labelMask, 1);
    auto tool = [this, panel](const char *name, int key, const char *fallback) {
        auto *b = new QPushButton(m_language ? m_language->configText(key) : QString(fallback), m_frameMask);
        b->setObjectName(name);
        b->setCheckable(true);
        panel->addWidget(b);
        return b;
    };
    m_draw = tool("pushButtonDraw", 35, "Paint");
    m_eraser = tool("pushButtonEraser", 36, "Eraser");
    m_eraserAll = tool("pushButtonEraserAll", 37, "Eraser All");
    m_eraserAll->setCheckable(false);
    m_frameMask->hide();

    // Designer leftovers that the view never shows.
    const char *hidden[] = {"cb_touch", "line_topMin", "line_topMax", "line_leftMin", "line_rightMin"};
    for (int i = 0; i < 5; ++i) {
        QWidget *w = i == 0 ? static_cast<QWidget *>(new QCheckBox(this)) : new QFrame(this);
        w->setObjectName(hidden[i]);
        w->hide();
        m_hidden[i] = w;
    }
}

int AlignmentDlg::deviceCount() const
{
    return m_psDataMgr ? m_psDataMgr->getNumOfCamDevice() : 0;
}

// ---- opening and closing ---------------------------------------------------------

void AlignmentDlg::imageDisplay(bool bDisplay, int arg)
{
    Q_UNUSED(arg);
    const int count = deviceCount();
    const int monitor = m_psDataMgr ? m_psDataMgr->getMonitor() : 0;
    qDebug() << "AlignmentDlg::imageDisplay(): bDisplay =" << bDisplay << "getNumOfCamDevice =" << count
             << "getMonitor =" << monitor;
    if (!bDisplay) {
        m_nBrightnessLevel = m_slider[0]->value();
        m_bDisplaying = false;
        hide();
        return;
    }

    m_bDisplaying = true;
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_rcMonitor[0] = m_rcMonitor[1] = QRect();

    QRect desktop[2];
    QRect view;
    if (count == 2) {
        NqUtils::getWindowRect(desktop);
        view = QRect(desktop[0].topLeft(),
                     QSize(desktop[0].width() + (desktop[1].isEmpty() ? 0 : desktop[1].width()), desktop[0].height()));
    } else {
        NqUtils::getMonitorRect(desktop[0], monitor);
        view = desktop[0];
    }
    // Bound to the board monitor's screen before it is shown; full screen
    // there where the window system does not let a client place its window.
    winId();
    bool fullScreen = false;
    tl::placement::bindToScreen(windowHandle(), view, &fullScreen);
    setGeometry(view);
    setWindowState(fullScreen ? (windowState() | Qt::WindowFullScreen) : (windowState() & ~Qt::WindowFullScreen));
    for (int i = 0; i < 2; ++i) {
        if (!desktop[i].isEmpty())
            m_rcMonitor[i] = desktop[i].translated(-view.topLeft());
        if (m_rcMonitor[i].isEmpty()) {
            m_label[i]->hide();
            m_group[i]->hide();
            continue;
        }
        placeMonitor(i, m_rcMonitor[i]);
    }
    for (QWidget *w : m_hidden)
        w->hide();
    // A view closed from outside (a module went) may have left the editor open.
    m_bMaskEditorOpen = false;
    m_nEditsAtOpening = m_psMaskDlg->editCount();
    m_psMaskDlg->hide();
    showMaskPanel(false);

    for (QSlider *s : m_slider)
        s->setValue(m_nBrightnessLevel);
    emit sigCamParamSendWait(kGainTable[static_cast<size_t>(m_nBrightnessLevel)], 0, 0);
    emit sigCamParamSendWait(kGainTable[static_cast<size_t>(m_nBrightnessLevel)], 0, 1);
    tl::Clock::sleepMs(500);
}

void AlignmentDlg::placeMonitor(int i, const QRect &r)
{
    const QRect onDesktop = r.translated(geometry().topLeft());
    const double ratio = NqUtils::getMonitorScale(onDesktop.left(), onDesktop.top(), onDesktop.right(),
                                                  onDesktop.bottom());
    qDebug() << "dpiRatio =" << i << ratio;
    const int left = r.left() + r.width() / 2 - kImageWidth / 2;
    const int top = r.top() + r.height() / 2 - kImageHeight / 2;
    m_label[i]->setGeometry(left, top, kImageWidth, kImageHeight);
    m_label[i]->clear();
    m_label[i]->show();
    m_group[i]->setGeometry(left, top + kImageHeight + scaled(kControlsGap, ratio), kImageWidth,
                            scaled(kControlsHeight, ratio));
    m_group[i]->show();
    m_change[i]->setChecked(false);
    m_change[i]->setEnabled(true);
    m_change[i]->setVisible(deviceCount() == 2);
    if (i == 0) {
        m_pushB->setVisible(deviceCount() == 1);
        const int h = scaled(kMaskPanelHeight, ratio);
        m_frameMask->setGeometry(left, top - h - scaled(kMaskPanelGap, ratio), kImageWidth, h);
    }
}

// ---- painting and keys -----------------------------------------------------------

void AlignmentDlg::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, kFrameInset, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (const QRect &r : m_rcMonitor) {
        if (r.isEmpty())
            continue;
        painter.drawRect(r.left() + kFrameInset, r.top() + kFrameInset, r.width() - 2 * kFrameInset,
                         r.height() - 2 * kFrameInset);
    }
}

void AlignmentDlg::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        if (isVisible())
            clickOK();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void AlignmentDlg::closeEvent(QCloseEvent *event)
{
    // Closed by the window system (a key of the desktop): the same as OK, or the
    // modules would stream on behind a view that is gone.
    if (m_bDisplaying && isVisible()) {
        event->ignore();
        clickOK();
        return;
    }
    QDialog::closeEvent(event);
}

// ---- images ------------------------------------------------------------------------

void AlignmentDlg::setImage(const QImage &image, int devIndex)
{
    if (!m_bDisplaying || !isVisible())
        return;
    if (devIndex != 0 && devIndex != 1)
        return;
    if (deviceCount() == 2 && m_change[0]->isChecked())
        devIndex = 1 - devIndex;
    m_label[devIndex]->setPixmap(QPixmap::fromImage(image));
}

// ---- brightness --------------------------------------------------------------------

void AlignmentDlg::sendGainToBoth(int level)
{
    level = std::clamp(level, 0, kLevels - 1);
    const unsigned short gain = kGainTable[static_cast<size_t>(level)];
    emit sigCamParamSendWait(gain, 0, 0);
    emit sigCamParamSendWait(gain, 0, 1);
}

void AlignmentDlg::setBrightness(int level)
{
    level = std::clamp(level, 0, kLevels - 1);
    for (QSlider *s : m_slider)
        s->setValue(level);
    sendGainToBoth(level);
}

void AlignmentDlg::userMovedSlider(int i)
{
    if (!m_bUserStep[i])
        return;
    m_bUserStep[i] = false;
    if (i == 0)
        valueAlignmentGain1();
    else
        valueAlignmentGain2();
}

void AlignmentDlg::valueAlignmentGain1()
{
    const int level = m_slider[0]->value();
    qDebug() << "valueAlignmentGain1(): " << level;
    m_slider[1]->setValue(level);
    sendGainToBoth(level);
}

void AlignmentDlg::valueAlignmentGain2()
{
    const int level = m_slider[1]->value();
    qDebug() << "valueAlignmentGain2(): " << level;
    m_slider[0]->setValue(level);
    sendGainToBoth(level);
}

// ---- exchange ----------------------------------------------------------------------

void AlignmentDlg::convertClicked(QCheckBox *clicked, QCheckBox *other)
{
    other->setChecked(clicked->isChecked());
    clicked->setEnabled(false);
    other->setEnabled(false);
    m_label[0]->clear();
    m_label[1]->clear();
    clicked->setEnabled(true);
    other->setEnabled(true);
}

void AlignmentDlg::clickConvert1()
{
    convertClicked(m_change[0], m_change[1]);
}

void AlignmentDlg::clickConvert2()
{
    convertClicked(m_change[1], m_change[0]);
}

// ---- OK ----------------------------------------------------------------------------

void AlignmentDlg::clickOK()
{
    if (!isVisible())
        return;
    hide();
    bool bMask = false;
    if (deviceCount() == 1) {
        m_psMaskDlg->hide();
        showMaskPanel(false);
        // Only a mask the user changed in this opening goes to the module, and
        // only to firmware that keeps one: a view that was only looked at (or
        // whose download of the stored mask failed) never wipes that mask.
        const bool edited = m_psMaskDlg->editCount() != m_nEditsAtOpening;
        if (edited && moduleTakesMask() && m_bMaskReceived) {
            if (m_bMaskEditorOpen) {
                qDebug() << "AlignmentDlg::clickOK(): mask image width" << m_psMaskDlg->maskImage().width();
                imageToBitmap(m_psMaskDlg->maskImage(), m_pMaskBufBit);
                m_pMaskBufBit[kBitmapBytes] = 1;
                qDebug() << "nCount :" << kBitmapBytes;
            } else {
                // Painted, then switched off with the mask button.
                m_pMaskBufBit[kBitmapBytes] = 0;
            }
            bMask = true;
        } else {
            qDebug() << "AlignmentDlg::clickOK(): mask unchanged, not sent";
        }
        m_bMaskEditorOpen = false;
    }
    emit alignmentDisplayDone(m_change[0]->isChecked() ? 1 : 0, bMask);
}

// ---- mask --------------------------------------------------------------------------

void AlignmentDlg::imageToBitmap(const QImage &image, unsigned char *bits)
{
    if (!bits)
        return;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    std::memset(bits, 0, kBitmapBytes);
    const int w = std::min(argb.width(), int(kImageWidth));
    const int h = std::min(argb.height(), int(kImageHeight));
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        unsigned char *row = bits + y * kBytesPerRow;
        for (int x = 0; x < w; ++x)
            if (qAlpha(line[x]) == 255 && qRed(line[x]) == 255)
                row[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
    }
}

void AlignmentDlg::showMaskPanel(bool show)
{
    m_frameMask->setVisible(show);
    m_draw->setVisible(show);
    m_eraser->setVisible(show);
    m_eraserAll->setVisible(show);
}

bool AlignmentDlg::moduleTakesMask() const
{
    if (deviceCount() != 1)
        return false;
    const QString version = m_psDataMgr->getDeviceFwVersion(0);
    bool ok = false;
    int minor = version.right(2).toInt(&ok, 10);
    if (!ok)
        minor = 0;
    qDebug() << "AlignmentDlg: firmware" << version << "minor" << minor;
    return minor >= 14;
}

void AlignmentDlg::clickPushB()
{
    qDebug() << "clickPushB";
    if (!moduleTakesMask())
        return;

    // The editor starts from the mask the module keeps: without it (its
    // download failed, came short, or was of the module before this one) an
    // edit would replace the whole stored mask by the strokes alone.
    if (!m_bMaskEditorOpen && !m_bMaskReceived) {
        qDebug() << "clickPushB: the module's mask has not been read, no editor";
        return;
    }
    m_bMaskEditorOpen = !m_bMaskEditorOpen;
    if (!m_bMaskEditorOpen) {
        m_psMaskDlg->hide();
        showMaskPanel(false);
        return;
    }
    m_psMaskDlg->place(m_label[0]->geometry());
    if (m_bMaskReceived) {
        for (int k = 0; k < kBitmapBytes; ++k) {
            const unsigned char byte = m_pMaskBufBit[k];
            if (!byte)
                continue;
            const int row = k / kBytesPerRow;
            const int column = k % kBytesPerRow;
            for (int bit = 7; bit >= 0; --bit)
                if (byte & (1u << bit))
                    m_psMaskDlg->setMaskedPixel(8 * column + (7 - bit), row);
        }
    }
    m_psMaskDlg->show();
    m_psMaskDlg->raise();
    m_psMaskDlg->setFocus();
    showMaskPanel(true);
    m_frameMask->raise();
    onDraw();
}

void AlignmentDlg::forgetReceivedMask()
{
    if (m_bMaskReceived)
        qDebug() << "AlignmentDlg::forgetReceivedMask(): the modules are opened afresh";
    m_bMaskReceived = false;
}

void AlignmentDlg::SetReceiveMask(const unsigned char *data, int len)
{
    qDebug() << "AlignmentDlg::SetReceiveMask ==>" << len;
    if (!data || len <= 0)
        return;
    // A record that came short (a download that broke off or skipped a part)
    // is not the module's mask: nothing of it is shown or kept, and the mask
    // received before may be another module's, so it is no longer shown either.
    if (len < kMaskBytes) {
        qDebug() << "AlignmentDlg::SetReceiveMask: short record, not taken";
        m_bMaskReceived = false;
        return;
    }
    std::memcpy(m_pMaskBufBit, data, static_cast<size_t>(kMaskBytes));
    qDebug() << "AlignmentDlg::SetReceiveMask: mask enable" << m_pMaskBufBit[kBitmapBytes];
    m_bMaskReceived = true;
}

void AlignmentDlg::onDraw()
{
    qDebug() << "onDraw~~";
    m_draw->setChecked(false);
    m_eraser->setChecked(false);
    m_draw->setChecked(true);
    emit sigDraw();
}

void AlignmentDlg::onEraser()
{
    m_draw->setChecked(false);
    m_eraser->setChecked(false);
    m_eraser->setChecked(true);
    emit sigEraserFree();
}

void AlignmentDlg::onEraserAll()
{
    qDebug() << "onEraserAll~~";
    emit sigEraserAll();
}
