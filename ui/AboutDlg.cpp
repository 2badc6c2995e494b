#include "ui/AboutDlg.h"

#include "settings/BrandProfile.h"
#include "settings/LanguageTable.h"
#include "ui/DialogScale.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLabel>
#include <QPushButton>

using DialogScale::make;

AboutDlg::AboutDlg(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName("AboutDlg");
    resize(440, 220);
    IconLabel = make<QLabel>(this, "IconLabel", 20, 24, 96, 96);
    IconLabel->setPixmap(QPixmap(":/Corvane/about"));
    IconLabel->setScaledContents(true);
    labelAppName = make<QLabel>(this, "labelAppName", 136, 18, 290, 40);
    labelAppName->setStyleSheet("font: 87 16pt \"Arial Black\";");
    labelAppName->setText(QString::fromUtf8(tl::kBrand.productDisplayName));
    labelSoftVer = make<QLabel>(this, "labelSoftVer", 136, 64, 290, 22);
    const QString version = QCoreApplication::applicationVersion();
    labelSoftVer->setText("Driver Version : " + (version.isEmpty() ? QString::fromLatin1(tl::kDriverVersion) : version));
    labelHardVer = make<QLabel>(this, "labelHardVer", 136, 88, 290, 22);
    labelWeb = make<QLabel>(this, "labelWeb", 136, 120, 290, 22);
    const QString url = QString::fromUtf8(tl::kBrand.makerUrl);
    labelWeb->setText(QString("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped()));
    labelWeb->setTextFormat(Qt::RichText);
    labelWeb->setOpenExternalLinks(true);
    labelMaker = make<QLabel>(this, "labelMaker", 136, 144, 290, 22);
    labelMaker->setText(QString::fromUtf8(tl::kBrand.makerLabel));
    pushOk = make<QPushButton>(this, "pushOk", 326, 178, 100, 30);
    pushOk->setText("OK");
    pushOk->setDefault(true);
    connect(pushOk, &QPushButton::clicked, this, &AboutDlg::clickOk);

    m_dpiRatio = DialogScale::pixelRatio();
    qDebug() << "AboutDlg::AboutDlg(): m_dpiRatio =" << m_dpiRatio;
    setFixedSize(DialogScale::scaled(440, m_dpiRatio), DialogScale::scaled(220, m_dpiRatio));
    DialogScale::scaleChildren(this, m_dpiRatio);
}

AboutDlg::~AboutDlg() = default;

QString AboutDlg::firmwareText(int deviceCount, const QString &first, const QString &second)
{
    if (deviceCount == 1)
        return first;
    if (deviceCount == 2)
        return first + "   " + second;
    return QString();
}

void AboutDlg::setTexts(const QString &title, const QString &firmwareText, int languageIndex)
{
    setWindowTitle(title);
    labelHardVer->setText("Firmware Version : " + firmwareText);
    // Korean has a family of its own; where the named family is not installed
    // the general ones behind it draw the (Latin) texts of the box.
    const QString family = languageIndex == LanguageTable::kKoreanIndex ? QStringLiteral("Malgun Gothic")
                                                                         : QStringLiteral("Tahoma");
    QFont f = DialogScale::dialogFont(nullptr, 9);
    f.setFamily(family);
    f.setFamilies({family, QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans")});
    setFont(f);
    // The product label keeps its own style sheet font.
    labelAppName->setStyleSheet("font: 87 16pt \"Arial Black\";");
}

void AboutDlg::clickOk()
{
    hide();
    // Hiding ends the modal run with a rejected result; OK accepts.
    setResult(QDialog::Accepted);
}

void AboutDlg::reject()
{
    if (isVisible())
        hide();
}

void AboutDlg::showEvent(QShowEvent *event)
{
    DialogScale::standAloneIfOwnerHidden(this);
    QDialog::showEvent(event);
}
