#include "DialogTestSupport.h"

#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "ui/MonitorSelWidget.h"
#include "ui/WizardDlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QMap>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <functional>

namespace {

const QList<tl::MonitorInfo> kTwoMonitors = {{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}};

class WizardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ConfigFileRW::settingsFolder()).removeRecursively();
        tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}});
    }
    void TearDown() override
    {
        wizard.reset();
        tl::FixedScreens::uninstall();
    }

    // A wizard over fresh settings; `languageId` picks the texts.
    void make(int languageId = 7, int modules = 1)
    {
        settings = std::make_unique<ConfigFileRW>();
        settings->setNumOfCamDevice(modules);
        language = std::make_unique<LanguageTable>();
        language->loadLanguageData(languageId);
        wizard = std::make_unique<WizardDlg>(nullptr, settings.get(), language.get());
        firm = std::make_unique<QSignalSpy>(wizard.get(), &WizardDlg::workingDoneFirm);
        file = std::make_unique<QSignalSpy>(wizard.get(), &WizardDlg::workingDoneFile);
        closeReq = std::make_unique<QSignalSpy>(wizard.get(), &WizardDlg::callClose);
    }
    void open(bool setupMode = false)
    {
        wizard->initialize(setupMode, settings->getNumOfCamDevice(), "TLM 1.15", 0);
        wizard->show();
    }

    std::unique_ptr<ConfigFileRW> settings;
    std::unique_ptr<LanguageTable> language;
    std::unique_ptr<WizardDlg> wizard;
    std::unique_ptr<QSignalSpy> firm, file, closeReq;
};

TEST_F(WizardTest, OpensOnTheFirstPageWithTheStoredChoicesAndTheBrandsControls)
{
    make();
    settings->setLensSelect(1);
    settings->setPenSelect(1);
    settings->setCheckCeiling(false);
    settings->setCheckRear(true);
    settings->setStartProgram(true);
    open();
    EXPECT_EQ(wizard->page(), 0);
    EXPECT_EQ(wizard->windowTitle(), "Tesselink Configuration");
    EXPECT_EQ(wizard->pushPre->text(), "Back");
    EXPECT_FALSE(wizard->pushPre->isEnabled());
    EXPECT_EQ(wizard->pushNext->text(), "Next");
    EXPECT_EQ(wizard->pushCancel->text(), "Cancel");
    EXPECT_EQ(wizard->groupLens->title(), "Model Selection");
    EXPECT_EQ(wizard->radioTALens->text(), "Short Throw Model");
    EXPECT_TRUE(wizard->radioTALens->isChecked());
    EXPECT_TRUE(wizard->radioPlus->isChecked());
    EXPECT_FALSE(wizard->checkCelling->isChecked());
    EXPECT_TRUE(wizard->checkRear->isChecked());
    EXPECT_TRUE(wizard->checkAutoStart->isChecked());
    EXPECT_EQ(wizard->comboLanguage->count(), 23);
    EXPECT_EQ(wizard->comboLanguage->currentIndex(), 6);
    EXPECT_EQ(wizard->labelUseL->text(), "English");
    EXPECT_FALSE(wizard->labelUseL->isEnabled());
    EXPECT_EQ(wizard->pushView->text(), "Alignment View");
    EXPECT_EQ(wizard->labelInfo3->text(), "Tesselink provides two kinds of calibration methods.");
    EXPECT_EQ(wizard->labelHWVersion->text(), "Firmware Version : TLM 1.15");
    EXPECT_TRUE(wizard->labelSWVersion->text().startsWith("Driver Version : "));

    // This brand: three lens buttons and the rear box; no update area.
    EXPECT_TRUE(wizard->radioTULens->isVisibleTo(wizard.get()));
    EXPECT_TRUE(wizard->checkRear->isVisibleTo(wizard.get()));
    EXPECT_FALSE(wizard->radioLens4->isVisibleTo(wizard.get()));
    EXPECT_FALSE(wizard->radioLens5->isVisibleTo(wizard.get()));
    EXPECT_FALSE(wizard->groupUpdate->isVisibleTo(wizard.get()));
    EXPECT_FALSE(wizard->textEditInfo->isVisibleTo(wizard.get()));
    EXPECT_FALSE(wizard->labelHWVersion->isVisibleTo(wizard.get()));
    EXPECT_FALSE(wizard->labelSWVersion->isVisibleTo(wizard.get()));

    // Info boxes: grey, one justified block with 20-pixel lines.
    for (QTextEdit *box : {wizard->textEditInfo1, wizard->textEditInfo2, wizard->textEditInfo3, wizard->textEditInfo4}) {
        EXPECT_EQ(box->styleSheet(), "background-color: rgb(240, 240, 240);");
        EXPECT_EQ(box->document()->blockCount(), 1);
        const QTextBlockFormat f = box->document()->firstBlock().blockFormat();
        EXPECT_EQ(f.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignJustify);
        EXPECT_EQ(f.lineHeightType(), int(QTextBlockFormat::FixedHeight));
        EXPECT_DOUBLE_EQ(f.lineHeight(), 20.0);
    }
    EXPECT_EQ(wizard->textEditInfo3->toPlainText(), "※ Auto Calibration [Calibration is proceeded automatically.]");
    EXPECT_TRUE(wizard->textEditInfo4->toPlainText().startsWith("※ Manual Calibration"));

    // A second opening starts again: the text boxes hold one text, not two.
    wizard->clickNext();
    open();
    EXPECT_EQ(wizard->page(), 0);
    EXPECT_EQ(wizard->textEditInfo1->document()->blockCount(), 1);
    EXPECT_EQ(wizard->comboLanguage->count(), 23);
}

TEST_F(WizardTest, UnchangedFirstPageMovesOnWithoutQuestionOrSignal)
{
    make();
    open();
    auto box = answerNextModal("Cancel", {}, 40);
    wizard->clickNext();
    tl::test::spinFor(50);
    box->stopped = true;
    EXPECT_FALSE(box->seen);
    EXPECT_EQ(firm->size(), 0);
    EXPECT_EQ(wizard->page(), 1);
    EXPECT_EQ(wizard->windowTitle(), "Tesselink Alignment");
    EXPECT_TRUE(wizard->pushPre->isEnabled());

    wizard->clickNext();
    EXPECT_EQ(wizard->page(), 2);
    EXPECT_EQ(wizard->windowTitle(), "Tesselink Calibration");
    EXPECT_EQ(wizard->pushNext->text(), "Finish");
    wizard->clickPre();
    EXPECT_EQ(wizard->page(), 1);
    EXPECT_EQ(wizard->pushNext->text(), "Next");
    EXPECT_EQ(wizard->windowTitle(), "Tesselink Alignment");
    wizard->clickPre();
    EXPECT_EQ(wizard->windowTitle(), "Tesselink Configuration");
    EXPECT_FALSE(wizard->pushPre->isEnabled());
}

TEST_F(WizardTest, ChangedCeilingAsksAndOnlyFinishStoresIt)
{
    make();
    settings->setCheckCeiling(true);
    open();
    wizard->checkCelling->click();
    EXPECT_FALSE(wizard->pendingCeiling());
    EXPECT_TRUE(settings->getCheckCeiling());

    auto box = answerNextModal("Cancel");
    wizard->clickNext();
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->text, "The setting was changed. Will you proceed ?");
    EXPECT_EQ(box->title, "Tesselink Configuration");
    EXPECT_EQ(box->buttons, (QStringList{"Finish", "Cancel"}));
    EXPECT_EQ(wizard->page(), 0);
    EXPECT_TRUE(settings->getCheckCeiling());
    EXPECT_EQ(firm->size(), 0);

    box = answerNextModal("Finish");
    wizard->clickNext();
    ASSERT_TRUE(box->seen);
    EXPECT_FALSE(settings->getCheckCeiling());
    EXPECT_EQ(firm->size(), 1);
    EXPECT_EQ(wizard->page(), 1);

    // Back and Next again: nothing differs from the stored values any more.
    wizard->clickPre();
    box = answerNextModal("Finish", {}, 40);
    wizard->clickNext();
    tl::test::spinFor(50);
    box->stopped = true;
    EXPECT_FALSE(box->seen);
    EXPECT_EQ(firm->size(), 1);
}

TEST_F(WizardTest, EachPendingValueCountsAsAChange)
{
    make();
    open();
    wizard->radioTBLens->click();
    wizard->radioPlus->click();
    wizard->checkRear->click();
    EXPECT_EQ(wizard->pendingLens(), 0);
    EXPECT_EQ(wizard->pendingPen(), 1);
    EXPECT_TRUE(wizard->pendingRear());
    // Applied only on Next.
    EXPECT_EQ(settings->getLensSelect(), 2);
    auto box = answerNextModal("Finish");
    wizard->clickNext();
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(settings->getLensSelect(), 0);
    EXPECT_EQ(settings->getPenSelect(), 1);
    EXPECT_TRUE(settings->getCheckRear());
    EXPECT_EQ(firm->size(), 1);
}

TEST_F(WizardTest, SetupModeAppliesWithoutAskingAndCancelAsksToClose)
{
    make();
    open(true);
    wizard->checkCelling->click();
    auto box = answerNextModal("Cancel", {}, 40);
    wizard->clickNext();
    tl::test::spinFor(50);
    box->stopped = true;
    EXPECT_FALSE(box->seen);
    EXPECT_EQ(firm->size(), 1);
    EXPECT_EQ(settings->getCheckCeiling(), wizard->pendingCeiling());
    EXPECT_EQ(wizard->page(), 1);

    wizard->clickCancel();
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(closeReq->size(), 1);

    // Escape does the same while the wizard is visible.
    open(true);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(wizard.get(), &esc);
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(closeReq->size(), 2);

    // The frame's close button only hides.
    open(true);
    wizard->close();
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(closeReq->size(), 2);

    // Outside setup mode Cancel only hides.
    open(false);
    wizard->clickCancel();
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(closeReq->size(), 2);
}

TEST_F(WizardTest, FinishEndsSetupModeAndReportsTheFile)
{
    make();
    open(true);
    wizard->clickNext();
    wizard->clickNext();
    ASSERT_EQ(wizard->page(), 2);
    EXPECT_TRUE(wizard->setupMode());
    wizard->clickNext();
    EXPECT_FALSE(wizard->setupMode());
    EXPECT_EQ(file->size(), 1);
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(closeReq->size(), 0);
}

TEST_F(WizardTest, PageButtonsRaiseTheirSignalsAndStayOpen)
{
    make();
    open();
    QSignalSpy view(wizard.get(), &WizardDlg::reStartDisplay);
    QSignalSpy autoCal(wizard.get(), &WizardDlg::reStartACalibration);
    QSignalSpy manual(wizard.get(), &WizardDlg::reStartMCalibration);
    wizard->clickNext();
    wizard->pushView->click();
    EXPECT_EQ(view.size(), 1);
    EXPECT_EQ(wizard->page(), 1);
    wizard->clickNext();
    wizard->pushAutoCalib->click();
    wizard->pushManualCalib->click();
    EXPECT_EQ(autoCal.size(), 1);
    EXPECT_EQ(manual.size(), 1);
    EXPECT_EQ(wizard->page(), 2);
    EXPECT_TRUE(wizard->isVisible());
}

TEST_F(WizardTest, AutoStartIsKeptAtOnceButReachesTheFileOnlyThroughSaving)
{
    make();
    open();
    wizard->checkAutoStart->click();
    EXPECT_TRUE(settings->getStartProgram());
    EXPECT_FALSE(QFile::exists(ConfigFileRW::configFilePath()));
}

TEST_F(WizardTest, LanguageChoiceIsStoredAtOnceAndTakesEffectAfterRestart)
{
    make();
    open();
    auto box = answerNextModal("OK");
    wizard->comboLanguage->setCurrentIndex(10);
    EXPECT_EQ(settings->getLanguageId(), 11);
    // The notice follows once the list has finished with the choice.
    ASSERT_TRUE(tl::test::spinUntil([&] { return box->seen; }, 5000));
    EXPECT_EQ(box->text, "This function will be activated after restarting.");
    EXPECT_EQ(box->title, "Tesselink Configuration");
    EXPECT_EQ(settings->getLanguageId(), 11);
    EXPECT_EQ(wizard->windowTitle(), "Tesselink Configuration");
    EXPECT_EQ(wizard->labelUseL->text(), "English");
    EXPECT_EQ(wizard->pushNext->text(), "Next");

    // Filling the list at the next opening is no choice of the user.
    box = answerNextModal("OK", {}, 40);
    open();
    tl::test::spinFor(50);
    box->stopped = true;
    EXPECT_FALSE(box->seen);
    EXPECT_EQ(settings->getLanguageId(), 11);
}

TEST_F(WizardTest, MonitorGroupOnlyWithSeveralMonitorsAndOneModule)
{
    tl::FixedScreens::install(kTwoMonitors);
    make(7, 1);
    settings->setMonitor(1);
    open();
    EXPECT_TRUE(wizard->groupMonitor->isVisible());
    EXPECT_EQ(wizard->groupMonitor->title(), "Select Display");
    EXPECT_EQ(wizard->widgetMonitorSel->monitors().size(), 2);
    EXPECT_EQ(wizard->widgetMonitorSel->selected(), 1);

    // A click on the other monitor is pending until Next.
    const QPointF first = wizard->widgetMonitorSel->scaledRects()[0].center();
    QTest::mouseClick(wizard->widgetMonitorSel, Qt::LeftButton, {}, first.toPoint());
    EXPECT_EQ(wizard->pendingMonitor(), 0);
    EXPECT_EQ(settings->getMonitor(), 1);
    auto box = answerNextModal("Finish");
    wizard->clickNext();
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(settings->getMonitor(), 0);

    // Two modules: hidden, the stored monitor stays.
    settings->setNumOfCamDevice(2);
    settings->setMonitor(1);
    open();
    EXPECT_FALSE(wizard->groupMonitor->isVisible());
    EXPECT_EQ(wizard->pendingMonitor(), 1);

    // One monitor: hidden as well.
    tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}});
    settings->setNumOfCamDevice(1);
    settings->setMonitor(0);
    open();
    EXPECT_FALSE(wizard->groupMonitor->isVisible());
    EXPECT_EQ(wizard->pendingMonitor(), 0);
}

TEST_F(WizardTest, StoredValuesOutOfRangeShowASensibleChoiceAndNeverReturn)
{
    tl::FixedScreens::install(kTwoMonitors);
    make(99, 1);
    settings->setLensSelect(9);
    settings->setPenSelect(-3);
    settings->setMonitor(5);      // chosen when there were more monitors
    settings->setLanguageId(99);
    open();
    EXPECT_TRUE(wizard->radioTULens->isChecked());
    EXPECT_TRUE(wizard->radioNormal->isChecked());
    EXPECT_GE(wizard->comboLanguage->currentIndex(), 0);
    // The map shows the primary monitor, but the choice stays the stored one
    // until the user picks a monitor: the stored monitor may come back.
    EXPECT_EQ(wizard->widgetMonitorSel->selected(), 0);
    EXPECT_EQ(wizard->pendingLens(), 2);
    EXPECT_EQ(wizard->pendingPen(), 0);
    EXPECT_EQ(wizard->pendingMonitor(), 5);

    // Nothing touched: no question, nothing written.
    auto box = answerNextModal("Finish", {}, 40);
    wizard->clickNext();
    tl::test::spinFor(50);
    box->stopped = true;
    EXPECT_FALSE(box->seen);
    EXPECT_EQ(settings->getLensSelect(), 9);
    EXPECT_EQ(settings->getLanguageId(), 99);

    // Applying another choice writes the shown lens and pen, and keeps the
    // stored monitor, which the user did not choose.
    wizard->clickPre();
    wizard->checkCelling->click();
    box = answerNextModal("Finish");
    wizard->clickNext();
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(settings->getLensSelect(), 2);
    EXPECT_EQ(settings->getPenSelect(), 0);
    EXPECT_EQ(settings->getMonitor(), 5);

    // Two modules: the group is hidden and the stored monitor is kept as well.
    settings->setNumOfCamDevice(2);
    open(true);
    EXPECT_FALSE(wizard->groupMonitor->isVisible());
    EXPECT_EQ(wizard->pendingMonitor(), 5);
    wizard->clickNext();
    EXPECT_EQ(firm->size(), 2);
    EXPECT_EQ(settings->getMonitor(), 5);

    // Picked on the map: then it is the user's choice.
    settings->setNumOfCamDevice(1);
    open();
    QTest::mouseClick(wizard->widgetMonitorSel, Qt::LeftButton, {},
                      wizard->widgetMonitorSel->scaledRects()[1].center().toPoint());
    EXPECT_EQ(wizard->pendingMonitor(), 1);
    box = answerNextModal("Finish");
    wizard->clickNext();
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(settings->getMonitor(), 1);

    // The stored fourth model is in range and kept.
    settings->setLensSelect(3);
    open();
    EXPECT_TRUE(wizard->radioLens4->isChecked());
    EXPECT_EQ(wizard->pendingLens(), 3);
}

// The map shows the primary monitor for a stored monitor that is not there:
// a click on it is the user's pick like any other (it was taken for the
// selection already made, and the stored monitor stayed).
TEST_F(WizardTest, TheShownPrimaryCanBePickedForAStoredMonitorThatIsNotThere)
{
    tl::FixedScreens::install(kTwoMonitors);
    make(7, 1);
    settings->setMonitor(5);
    open();
    ASSERT_EQ(wizard->widgetMonitorSel->selected(), 0);
    QSignalSpy picked(wizard->widgetMonitorSel, &MonitorSelWidget::selChanged);
    QTest::mouseClick(wizard->widgetMonitorSel, Qt::LeftButton, {},
                      wizard->widgetMonitorSel->scaledRects()[0].center().toPoint());
    ASSERT_EQ(picked.size(), 1);
    EXPECT_EQ(picked[0][0].toInt(), 0);
    EXPECT_EQ(wizard->pendingMonitor(), 0);
    auto box = answerNextModal("Finish");
    wizard->clickNext();
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(settings->getMonitor(), 0);

    // In range now: a second click on the chosen monitor is no new pick.
    open();
    picked.clear();
    QTest::mouseClick(wizard->widgetMonitorSel, Qt::LeftButton, {},
                      wizard->widgetMonitorSel->scaledRects()[0].center().toPoint());
    EXPECT_EQ(picked.size(), 0);
}

TEST_F(WizardTest, NoMonitorAtAllOpensWithoutCrashing)
{
    tl::FixedScreens::install({});
    make();
    settings->setMonitor(3);
    open(true);
    EXPECT_FALSE(wizard->groupMonitor->isVisible());
    EXPECT_EQ(wizard->pendingMonitor(), 3);
    wizard->clickNext();
    EXPECT_EQ(settings->getMonitor(), 3);
}

// The program may end while a question of the wizard is open (a logout): the
// main window deletes the wizard under the running box. Nothing of the deleted
// wizard is used afterwards and nothing is applied.
TEST_F(WizardTest, DeletedWhileItsQuestionIsOpen)
{
    for (int which = 0; which < 2; ++which) {
        make();
        settings->setCheckCeiling(true);
        open();
        bool deleted = false;
        std::function<void(int)> poll = [&](int left) {
            if (QApplication::activeModalWidget()) {
                wizard.reset();
                deleted = true;
                return;
            }
            if (left > 0)
                QTimer::singleShot(5, [&poll, left] { poll(left - 1); });
        };
        QTimer::singleShot(0, [&poll] { poll(300); });
        if (which == 0) {
            wizard->checkCelling->click();
            wizard->clickNext();   // the change question
        } else {
            wizard->comboLanguage->setCurrentIndex(3);   // the restart notice
            tl::test::spinUntil([&] { return deleted; }, 5000);
        }
        EXPECT_TRUE(deleted) << which;
        EXPECT_EQ(wizard, nullptr);
        EXPECT_TRUE(settings->getCheckCeiling());
        tl::test::spinFor(20);
    }
}

TEST_F(WizardTest, ArabicMirrorsTheGroups)
{
    make(1);
    open();
    for (QGroupBox *g : {wizard->groupLens, wizard->groupPen, wizard->groupBasic, wizard->groupLanguage,
                         wizard->groupUpdate, wizard->groupAdjust, wizard->groupCalib})
        EXPECT_EQ(g->layoutDirection(), Qt::RightToLeft) << g->objectName().toStdString();
    // The buttons keep their order; the radio buttons sit at the group's right side.
    EXPECT_EQ(wizard->groupLens->width() - wizard->radioTBLens->geometry().right() - 1, 12);
    EXPECT_EQ(wizard->radioTBLens->width(), 298);
    EXPECT_GT(wizard->labelUse->x(), wizard->comboLanguage->x());
    EXPECT_EQ(wizard->radioOtherServer->width(), wizard->radioDefaultServer->width());
    // A second opening does not mirror them back.
    open();
    EXPECT_GT(wizard->labelUse->x(), wizard->comboLanguage->x());
    EXPECT_EQ(wizard->windowTitle(), language->configText(0));

    make(7);
    open();
    EXPECT_EQ(wizard->groupLens->layoutDirection(), Qt::LeftToRight);
    EXPECT_LT(wizard->labelUse->x(), wizard->comboLanguage->x());
}

TEST_F(WizardTest, GeometryFollowsThePixelRatio)
{
    make();
    const QSize size = wizard->size();
    const QRect next = wizard->pushNext->geometry();
    const QRect lens = wizard->radioTULens->geometry();
    tl::FixedScreens::install({{QRect(0, 0, 2880, 1620), 144}});
    make();
    EXPECT_DOUBLE_EQ(wizard->dpiRatio(), 1.5);
    EXPECT_EQ(wizard->size(), size * 1.5);
    auto times15 = [](const QRect &r) {
        auto s = [](int v) { return int(v * 1.5 + 0.5); };
        return QRect(s(r.x()), s(r.y()), s(r.width()), s(r.height()));
    };
    EXPECT_EQ(wizard->pushNext->geometry(), times15(next));
    EXPECT_EQ(wizard->radioTULens->geometry(), times15(lens));
    EXPECT_EQ(wizard->widgetMonitorSel->geometry(), QRect(18, 39, 393, 240));
}

} // namespace

namespace {

// Every caption of the wizard fits its control in every language: a text that
// the fixed geometry cuts is a defect the user sees.
TEST_F(WizardTest, EveryTextFitsItsControlInEveryLanguage)
{
    tl::FixedScreens::install(kTwoMonitors);
    QStringList cut;
    for (int id = 1; id <= LanguageTable::kLanguageCount; ++id) {
        make(id, 1);
        open();
        for (int page = 0; page < 3; ++page) {
            for (QWidget *w : wizard->findChildren<QWidget *>()) {
                if (!w->isVisible() || w->objectName().isEmpty() || w->objectName().startsWith("qt_"))
                    continue;
                int need = 0;
                if (auto *label = qobject_cast<QLabel *>(w)) {
                    if (label->wordWrap() || label->text().isEmpty())
                        continue;
                    need = label->fontMetrics().horizontalAdvance(label->text());
                } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
                    need = button->sizeHint().width();
                } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
                    need = group->fontMetrics().horizontalAdvance(group->title()) + 16;
                } else if (auto *box = qobject_cast<QTextEdit *>(w)) {
                    // The info boxes have no scroll bar: their text must fit in height.
                    box->document()->setTextWidth(box->viewport()->width());
                    const int tall = int(box->document()->size().height());
                    if (tall > box->viewport()->height())
                        cut << QString("%1/%2: %3 needs height %4 of %5")
                                   .arg(LanguageTable::languageCode(id - 1), w->objectName())
                                   .arg(page)
                                   .arg(tall)
                                   .arg(box->viewport()->height());
                    continue;
                } else {
                    continue;
                }
                if (need > w->width())
                    cut << QString("%1/%2: %3 needs %4 of %5")
                               .arg(LanguageTable::languageCode(id - 1), w->objectName())
                               .arg(page)
                               .arg(need)
                               .arg(w->width());
            }
            wizard->clickNext();
        }
    }
    EXPECT_TRUE(cut.isEmpty()) << cut.join("\n").toStdString();
}

} // namespace

namespace {

// The style's own places of a group box's parts, as the group box asks for them.
struct GroupParts : QGroupBox
{
    static QRect part(const QGroupBox *g, QStyle::SubControl sc)
    {
        QStyleOptionGroupBox opt;
        (g->*(&GroupParts::initStyleOption))(&opt);
        return g->style()->subControlRect(QStyle::CC_GroupBox, &opt, sc, g);
    }
};

QString where(const QWidget *w)
{
    const QRect r = w->geometry();
    return QString("%1 (%2,%3 %4x%5)").arg(w->objectName()).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// No control of a group sits on its title or its border, in any language, and
// in Arabic and Persian every group of the pages is laid out right to left: the
// title at the right, each control where the left-to-right form has it, mirrored.
TEST_F(WizardTest, EveryGroupKeepsItsControlsInsideAndRightToLeftMirrors)
{
    tl::FixedScreens::install(kTwoMonitors);
    // The left-to-right places, from the English form.
    QMap<QString, QRect> ltr;
    make(7, 1);
    open();
    for (QGroupBox *g : wizard->findChildren<QGroupBox *>())
        for (QWidget *c : g->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            ltr[c->objectName()] = c->geometry();

    QStringList bad;
    for (int id = 1; id <= LanguageTable::kLanguageCount; ++id) {
        make(id, 1);
        open();
        const QString code = LanguageTable::languageCode(id - 1);
        const bool rtl = language->isRightToLeft();
        for (int page = 0; page < 3; ++page) {
            for (QGroupBox *g : wizard->stackedWidget->currentWidget()->findChildren<QGroupBox *>()) {
                if (!g->isVisible())
                    continue;
                const QRect title = GroupParts::part(g, QStyle::SC_GroupBoxLabel);
                const QRect inside = GroupParts::part(g, QStyle::SC_GroupBoxContents);
                if (rtl && title.center().x() < g->width() / 2)
                    bad << QString("%1: title of %2 on the left").arg(code, g->objectName());
                if (rtl != (g->layoutDirection() == Qt::RightToLeft))
                    bad << QString("%1: %2 not in the language's direction").arg(code, g->objectName());
                for (QWidget *c : g->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
                    if (!c->isVisible() || c->objectName().isEmpty() || c->objectName().startsWith("qt_"))
                        continue;
                    const QRect r = c->geometry();
                    if (r.intersects(title))
                        bad << QString("%1: %2 on the title of %3").arg(code, where(c), g->objectName());
                    else if (!inside.contains(r))
                        bad << QString("%1: %2 on the border of %3 (inside %4,%5 %6x%7)")
                                   .arg(code, where(c), g->objectName())
                                   .arg(inside.x())
                                   .arg(inside.y())
                                   .arg(inside.width())
                                   .arg(inside.height());
                    const QRect l = ltr.value(c->objectName());
                    const int mirrored = g->width() - l.x() - l.width();
                    if (rtl && (r.x() != mirrored || r.width() != l.width()))
                        bad << QString("%1: %2 not mirrored (x %3 for %4)").arg(code, where(c)).arg(mirrored).arg(l.x());
                    if (!rtl && (r.x() != l.x() || r.width() != l.width()))
                        bad << QString("%1: %2 moved sideways").arg(code, where(c));
                }
            }
            wizard->clickNext();
        }
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join("\n").toStdString();
}

} // namespace
