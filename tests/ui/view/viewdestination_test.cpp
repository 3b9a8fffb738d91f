// Destinations, the volume dialog and the progress display of the main view.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "convert/convertdlg.h"
#include "ui/dlgdestination.h"
#include "ui/ipaddressedit.h"
#include "ui/streamingevent.h"
#include "ui/volumedialog.h"
#include "viewfixture.h"

namespace viewtest {
namespace {

void FillDestination(CDlgDestination& dialog, const QStringList& octets, const QString& port) {
    for (int i = 0; i < 4; ++i) {
        dialog.OctetEdit(i)->setText(octets.value(i));
    }
    dialog.PortEdit()->setText(port);
}

struct RefusedEntry {
    const char* label;
    QStringList octets;
    QString port;
    QString message;
};

void PrintTo(const RefusedEntry& entry, std::ostream* os) {
    *os << entry.label;
}

class DestinationRefusalTest : public ::testing::TestWithParam<RefusedEntry> {
protected:
    void SetUp() override { App(); }
};

TEST_P(DestinationRefusalTest, KeepsTheDialogOpenWithItsMessage) {
    ScriptedUi ui;
    ui.AnswerMessage(uiseam::IDOK);
    CDlgDestination dialog;
    FillDestination(dialog, GetParam().octets, GetParam().port);
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].text, GetParam().message);
    EXPECT_EQ(ui.Messages()[0].caption, QStringLiteral("Sonvex"));
}

const QString kBadPort = QStringLiteral("Incorrect IP address or port: port must be 1-65535");
const QString kBadAddress =
    QStringLiteral("Incorrect IP address or port: IP address must be four numbers of 0-255");
const QString kInteger = QStringLiteral("Enter an integer.");
const QStringList kAddress = {QStringLiteral("10"), QStringLiteral("0"), QStringLiteral("0"),
                              QStringLiteral("1")};

INSTANTIATE_TEST_SUITE_P(
    Entries, DestinationRefusalTest,
    ::testing::Values(
        RefusedEntry{"zero_port", kAddress, QStringLiteral("0"), kBadPort},
        RefusedEntry{"blank_address", {}, QStringLiteral("5004"), kBadAddress},
        // A box left empty would send to an address nobody typed.
        RefusedEntry{"partial_address",
                     {QStringLiteral("127"), QString(), QString(), QStringLiteral("1")},
                     QStringLiteral("5004"),
                     kBadAddress},
        RefusedEntry{"port_not_integer", kAddress, QStringLiteral("50x4"), kInteger},
        RefusedEntry{"port_empty", kAddress, QString(), kInteger},
        RefusedEntry{"port_beyond_16_bits", kAddress, QStringLiteral("70000"), kBadPort},
        RefusedEntry{"port_negative", kAddress, QStringLiteral("-5"), kBadPort}),
    [](const auto& entry) { return std::string(entry.param.label); });

TEST(DestinationDialogTest, BuildsTextAddressInNetworkOrderAndPort) {
    App();
    ScriptedUi ui;
    CDlgDestination dialog;
    FillDestination(
        dialog,
        {QStringLiteral("192"), QStringLiteral("168"), QStringLiteral("1"), QStringLiteral("10")},
        QStringLiteral(" 5004 "));
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_STREQ(dialog.m_destination.IpPort, "192.168.1.10 : 5004");
    uint8_t bytes[4];
    std::memcpy(bytes, &dialog.m_destination.IP, 4);
    EXPECT_EQ(bytes[0], 192);
    EXPECT_EQ(bytes[1], 168);
    EXPECT_EQ(bytes[2], 1);
    EXPECT_EQ(bytes[3], 10);
    EXPECT_EQ(dialog.m_destination.Port, 5004u);
}

// The TTL and interface rows count for a group address only, and an interface the machine
// does not have is refused by name.
TEST(DestinationDialogTest, MulticastRowsFollowTheAddress) {
    App();
    ScriptedUi ui;
    ui.AnswerMessage(uiseam::IDOK);
    CDlgDestination dialog;
    FillDestination(dialog, kAddress, QStringLiteral("5004"));
    EXPECT_FALSE(dialog.TtlEdit()->isEnabled());
    EXPECT_FALSE(dialog.InterfaceEdit()->isEnabled());
    dialog.TtlEdit()->setValue(9);
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_destination.Ttl, 1u);  // a unicast address keeps the default

    CDlgDestination group;
    FillDestination(
        group,
        {QStringLiteral("239"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1")},
        QStringLiteral("5004"));
    EXPECT_TRUE(group.TtlEdit()->isEnabled());
    EXPECT_TRUE(group.InterfaceEdit()->isEnabled());
    EXPECT_NE(group.InterfaceEdit()->findText(QStringLiteral("lo")), -1);  // offered
    group.TtlEdit()->setValue(4);
    group.InterfaceEdit()->setCurrentText(QStringLiteral("nope0"));
    group.accept();
    EXPECT_NE(group.result(), QDialog::Accepted);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].text,
              QStringLiteral("Incorrect multicast setting: there is no network interface named "
                             "\"nope0\""));
    group.InterfaceEdit()->setCurrentText(QStringLiteral("lo"));
    group.accept();
    ASSERT_EQ(group.result(), QDialog::Accepted);
    EXPECT_STREQ(group.m_destination.IpPort, "239.1.1.1 : 5004");
    EXPECT_EQ(group.m_destination.Ttl, 4u);
    EXPECT_STREQ(group.m_destination.Interface, "lo");
}

// SPA mode needs a control address, enabled and checked only in that mode; a destination
// changed in the dialog shows its own.
TEST(DestinationDialogTest, SpaModeTakesAControlAddress) {
    App();
    ScriptedUi ui;
    ui.AnswerMessage(uiseam::IDOK);
    CDlgDestination dialog;
    FillDestination(dialog, kAddress, QStringLiteral("34567"));
    EXPECT_FALSE(dialog.ControlEdit()->isEnabled());
    dialog.ModeEdit()->setCurrentIndex(1);
    EXPECT_TRUE(dialog.ControlEdit()->isEnabled());
    dialog.ControlEdit()->setText(QStringLiteral("10.0.0.2"));
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_TRUE(ui.Messages()[0].text.startsWith(
        QStringLiteral("Incorrect SPA control address: the control address \"10.0.0.2\"")));
    dialog.ControlEdit()->setText(QStringLiteral(" 10.0.0.2:6061 "));
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_destination.Mode, kModeSpa);
    EXPECT_EQ(dialog.m_destination.ControlText(), "10.0.0.2:6061");

    CDlgDestination change;
    change.SetDestination(dialog.m_destination);
    EXPECT_EQ(change.ModeEdit()->currentIndex(), 1);
    EXPECT_EQ(change.ControlEdit()->text(), QStringLiteral("10.0.0.2:6061"));
    change.ModeEdit()->setCurrentIndex(0);
    change.accept();
    ASSERT_EQ(change.result(), QDialog::Accepted);
    EXPECT_EQ(change.m_destination.Mode, kModeRtp);
    EXPECT_EQ(change.m_destination.ControlPort, 0u);

    // Polycom: a channel and a caller ID of at most 13 characters.
    CDlgDestination phones;
    FillDestination(
        phones,
        {QStringLiteral("224"), QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("116")},
        QStringLiteral("5001"));
    EXPECT_FALSE(phones.ChannelEdit()->isEnabled());
    phones.ModeEdit()->setCurrentIndex(2);
    EXPECT_TRUE(phones.CallerEdit()->isEnabled());
    phones.ChannelEdit()->setValue(49);
    phones.CallerEdit()->setText(QStringLiteral("Reception Desk"));
    ui.AnswerMessage(uiseam::IDOK);
    phones.accept();
    EXPECT_NE(phones.result(), QDialog::Accepted);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_TRUE(ui.Messages()[1].text.startsWith(QStringLiteral("Incorrect Polycom setting")));
    phones.CallerEdit()->setText(QStringLiteral("Reception"));
    phones.accept();
    ASSERT_EQ(phones.result(), QDialog::Accepted);
    EXPECT_EQ(phones.m_destination.Mode, kModePolycom);
    EXPECT_EQ(phones.m_destination.Channel, 49);
    EXPECT_STREQ(phones.m_destination.CallerId, "Reception");
}

// Keys go where the operator's focus is, one by one.
void Type(const QString& keys) {
    for (const QChar key : keys) {
        QTest::keyClick(QApplication::focusWidget(), key.toLatin1());
    }
}

QString Typed(CDlgDestination& dialog) {
    QStringList octets;
    for (int i = 0; i < 4; ++i) {
        octets << dialog.OctetEdit(i)->text();
    }
    return octets.join(QLatin1Char('.'));
}

// The address is taken as it is typed, mended or pasted, and the four boxes are one stop
// on the way to the port.
TEST(DestinationDialogTest, AddressFieldFollowsTheKeysAsDesktopAddressFieldsDo) {
    App();
    ScriptedUi ui;
    CDlgDestination dialog;
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    dialog.OctetEdit(0)->setFocus();

    // "." goes on; the dot typed after a full box only ends that box.
    Type(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(Typed(dialog), QStringLiteral("127.0.0.1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dialog.PortEdit());
    Type(QStringLiteral("5004"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), dialog.OctetEdit(0));

    // A number that can take no further digit (26) hands on, and so does a fourth digit.
    Type(QStringLiteral("10.26"));
    EXPECT_EQ(QApplication::focusWidget(), dialog.OctetEdit(2));
    Type(QStringLiteral("9.5"));
    EXPECT_EQ(Typed(dialog), QStringLiteral("10.26.9.5"));
    dialog.OctetEdit(1)->setText(QStringLiteral("255"));
    dialog.OctetEdit(1)->setFocus();
    dialog.OctetEdit(1)->end(false);
    Type(QStringLiteral("3"));
    EXPECT_EQ(Typed(dialog), QStringLiteral("10.255.3.5"));

    // Backspace at the start of a box goes back and then deletes there.
    dialog.OctetEdit(2)->home(false);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(Typed(dialog), QStringLiteral("10.25.3.5"));

    // From any box, Tab leaves the field and Shift+Tab goes to what comes before it.
    dialog.OctetEdit(2)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dialog.PortEdit());
    dialog.OctetEdit(3)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_NE(QApplication::focusWidget(), dialog.OctetEdit(0));
    EXPECT_FALSE(dialog.AddressEdit()->isAncestorOf(QApplication::focusWidget()));

    // A whole address pasted into any box fills all four, by key or by the box's menu.
    QApplication::clipboard()->setText(QStringLiteral("192.168.1.10"));
    dialog.OctetEdit(2)->setFocus();
    dialog.OctetEdit(2)->end(false);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Typed(dialog), QStringLiteral("192.168.1.10"));
    QApplication::clipboard()->setText(QStringLiteral(" 127.0.0.1 "));
    dialog.OctetEdit(1)->selectAll();
    dialog.OctetEdit(1)->paste();
    EXPECT_EQ(Typed(dialog), QStringLiteral("127.0.0.1"));

    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_STREQ(dialog.m_destination.IpPort, "127.0.0.1 : 5004");
}

class ViewDestinationTest : public ViewFixture {
protected:
    void AddDestination(const QStringList& octets, int port) {
        m_ui->AnswerDialog<CDlgDestination>([octets, port](CDlgDestination& dialog) {
            FillDestination(dialog, octets, QString::number(port));
            dialog.accept();
            return dialog.result();
        });
        m_view->OnCommand(cmd::ID_ADD_DESTINATION);
    }
};

TEST_F(ViewDestinationTest, AddAndRemoveDestinationsAreSavedAndConfirmed) {
    NewPlaylist(QStringLiteral("demo"));
    const QStringList address = {QStringLiteral("192"), QStringLiteral("168"), QStringLiteral("1"),
                                 QStringLiteral("10")};
    AddDestination(address, 5004);
    AddDestination(address, 5004);  // duplicates are accepted
    AddDestination(
        {QStringLiteral("127"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")},
        6000);
    ASSERT_EQ(m_view->DestinationList()->rowCount(), 3);
    EXPECT_EQ(rows::RowText(m_view->DestinationList(), 0), QStringLiteral("192.168.1.10 : 5004"));
    Playlist stored;
    ASSERT_TRUE(Stored("demo", stored));
    ASSERT_EQ(stored.Destinations.size(), 3u);
    EXPECT_STREQ(stored.Destinations[2].IpPort, "127.0.0.1 : 6000");
    EXPECT_EQ(stored.Destinations[2].Port, 6000u);

    EXPECT_FALSE(Enabled(cmd::ID_REMOVE_DESTINATION));
    ClickDestination(0);
    EXPECT_TRUE(Enabled(cmd::ID_REMOVE_DESTINATION));
    m_ui->AnswerMessage(uiseam::IDNO);
    m_view->OnCommand(cmd::ID_REMOVE_DESTINATION);
    EXPECT_EQ(m_ui->Messages().back().text,
              QStringLiteral("Are you sure to delete destination: 192.168.1.10 : 5004?"));
    EXPECT_EQ(m_view->DestinationList()->rowCount(), 3);

    ClickDestination(2);
    m_ui->AnswerMessage(uiseam::IDYES);
    m_view->OnCommand(cmd::ID_REMOVE_DESTINATION);
    EXPECT_EQ(m_view->DestinationList()->rowCount(), 2);
    EXPECT_FALSE(Enabled(cmd::ID_REMOVE_DESTINATION));
    ASSERT_TRUE(Stored("demo", stored));
    ASSERT_EQ(stored.Destinations.size(), 2u);
    EXPECT_STREQ(stored.Destinations[1].IpPort, "192.168.1.10 : 5004");

    // Reopening shows them in order with none selected.
    OpenPlaylist(QStringLiteral("demo"));
    EXPECT_EQ(m_view->DestinationList()->rowCount(), 2);
    EXPECT_FALSE(m_view->DestinationSelected());
}

TEST_F(ViewDestinationTest, AStartWithoutFilesDoesNothingAndWithoutDestinationsSaysSo) {
    NewPlaylist(QStringLiteral("demo"));
    EXPECT_TRUE(Enabled(cmd::ID_START_STREAMING));
    m_view->OnCommand(cmd::ID_START_STREAMING);
    EXPECT_FALSE(m_view->IsStreaming());
    EXPECT_FALSE(m_view->IsWorkerRunning());
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Ready"));

    AddFile(MakeWav("a.wav"));
    m_view->OnCommand(cmd::ID_START_STREAMING);
    EXPECT_FALSE(m_view->IsStreaming());
    EXPECT_FALSE(m_view->IsWorkerRunning());
    EXPECT_EQ(m_frame->MessageText(),
              QStringLiteral("Nothing to stream to: add an RTP destination first"));
    m_ui->AnswerModal([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
    m_view->OnCommand(cmd::ID_VOLUME);  // the next command clears it
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Ready"));
}

TEST_F(ViewDestinationTest, TheFormFitsHalfALaptopScreenAndTheTablesTakeTheSpaceGained) {
    m_frame->show();
    QApplication::processEvents();
    // Half of a 1366 x 768 screen, the window's border and toolbar included.
    m_frame->resize(683, 740);
    QApplication::processEvents();
    EXPECT_LE(m_frame->width(), 683);
    const auto geometry = [this](const char* name) {
        return m_view->findChild<QWidget*>(QString::fromLatin1(name))->geometry();
    };
    const QRect files = geometry("fileList");
    const QRect destinations = geometry("destinationList");
    const QRect elapsed = m_view->findChild<QWidget*>(QStringLiteral("elapsed"))->geometry();
    EXPECT_GT(files.width(), 0);
    EXPECT_GT(destinations.width(), 0);
    // Everything of the progress area is inside the form.
    const QWidget* elapsedBox = m_view->findChild<QWidget*>(QStringLiteral("elapsed"));
    EXPECT_LE(elapsedBox->mapTo(m_view, QPoint(elapsed.width(), 0)).x(), m_view->width());

    m_frame->resize(1900, 1000);
    QApplication::processEvents();
    EXPECT_GT(geometry("fileList").width(), files.width() + 400);
    EXPECT_GT(geometry("fileList").height(), files.height() + 100);
    EXPECT_GT(geometry("destinationList").width(), destinations.width() + 200);
    // The progress area keeps its height; the tables take the rest.
    EXPECT_EQ(geometry("elapsed").height(), elapsed.height());
}

TEST_F(ViewDestinationTest, VolumeDialogFollowsTheSliderAndSetsTheGain) {
    CVolumeDialog probe;
    probe.m_nPositionDb = 4;
    probe.InitDialog();
    EXPECT_EQ(probe.Slider()->minimum(), -9);
    EXPECT_EQ(probe.Slider()->maximum(), 9);
    EXPECT_EQ(probe.Slider()->value(), 4);
    EXPECT_EQ(probe.ValueEdit()->text(), QStringLiteral("4"));
    probe.Slider()->setValue(-3);
    EXPECT_EQ(probe.ValueEdit()->text(), QStringLiteral("-3"));
    EXPECT_EQ(probe.m_nShownDb, -3);

    m_ui->AnswerDialog<CVolumeDialog>([](CVolumeDialog& dialog) {
        dialog.InitDialog();
        EXPECT_EQ(dialog.Slider()->value(), 0);
        dialog.Slider()->setValue(-6);
        dialog.accept();
        return dialog.result();
    });
    m_view->OnCommand(cmd::ID_VOLUME);
    EXPECT_EQ(m_view->VolumeDb(), -6);
    EXPECT_NEAR(m_view->Document().Gain(), std::pow(10.0, -6.0 / 20.0), 1e-9);
    // The main window shows the volume and the loop mode.
    const auto* volumePane = m_frame->statusBar()->findChild<QLabel*>(QStringLiteral("volumePane"));
    const auto* loopPane = m_frame->statusBar()->findChild<QLabel*>(QStringLiteral("loopPane"));
    ASSERT_TRUE(volumePane != nullptr && loopPane != nullptr);
    EXPECT_EQ(volumePane->text(), QStringLiteral("Volume: -6 dB"));
    EXPECT_EQ(loopPane->text(), QStringLiteral("Loop: on"));
    m_view->OnCommand(cmd::ID_LOOP_MODE);
    EXPECT_EQ(loopPane->text(), QStringLiteral("Loop: off"));
    // Laid out after the message and ahead of the three lock-key indicators.
    m_frame->show();
    m_frame->statusBar()->layout()->activate();
    QList<QLabel*> panes = m_frame->statusBar()->findChildren<QLabel*>();
    panes.removeIf([](const QLabel* pane) { return pane->isHidden(); });  // ON AIR, no page
    std::sort(panes.begin(), panes.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
    ASSERT_EQ(panes.size(), 6);
    EXPECT_EQ(panes[1], volumePane);
    EXPECT_EQ(panes[2], loopPane);
    m_frame->hide();

    // Reopening shows -6; Cancel keeps it.
    m_ui->AnswerDialog<CVolumeDialog>([](CVolumeDialog& dialog) {
        dialog.InitDialog();
        EXPECT_EQ(dialog.Slider()->value(), -6);
        EXPECT_EQ(dialog.ValueEdit()->text(), QStringLiteral("-6"));
        dialog.Slider()->setValue(9);
        dialog.reject();
        return dialog.result();
    });
    m_view->OnCommand(cmd::ID_VOLUME);
    EXPECT_EQ(m_view->VolumeDb(), -6);
    EXPECT_NEAR(m_view->Document().Gain(), std::pow(10.0, -6.0 / 20.0), 1e-9);
}

TEST_F(ViewDestinationTest, ConvertRunsTheConvertDialogAlsoWhileNoPlaylistIsOpen) {
    EXPECT_TRUE(Enabled(cmd::ID_TOOLS_CONVERT));
    bool shown = false;
    m_ui->AnswerDialog<CConvertDlg>([&shown](CConvertDlg&) {
        shown = true;
        return static_cast<int>(QDialog::Rejected);
    });
    m_view->OnCommand(cmd::ID_TOOLS_CONVERT);
    EXPECT_TRUE(shown);
}

TEST_F(ViewDestinationTest, StatusReportsDriveProgressElapsedAndStatusText) {
    NewPlaylist(QStringLiteral("demo"));
    AddFile(MakeWav("short.wav"));
    AddFile(MakeWav("long.wav", 185.0));
    ClickFile(0);
    // The reports as they arrive, posted as the worker's values.
    const auto deliver = [&](const StreamingStatus& status) {
        QCoreApplication::postEvent(m_view, new StreamingEvent(status));
        QCoreApplication::sendPostedEvents(m_view, StreamingEvent::kType);
    };

    deliver(StreamingStatus::FileStarted(1));
    // The entry streaming is marked, not only selected.
    EXPECT_TRUE(m_view->FileList()->item(0, 0)->icon().isNull());
    EXPECT_FALSE(m_view->FileList()->item(1, 0)->icon().isNull());
    EXPECT_EQ(m_view->Progress()->minimum(), 0);
    EXPECT_EQ(m_view->Progress()->maximum(), 185);
    EXPECT_EQ(m_view->Progress()->value(), 0);
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Streaming: long.wav"));
    EXPECT_EQ(m_view->FileList()->currentRow(), 1);
    EXPECT_FALSE(m_view->Description().isEmpty());
    for (int i = 0; i < 3; ++i) {
        deliver(StreamingStatus::SecondElapsed(1));
    }
    EXPECT_EQ(m_view->Progress()->value(), 3);
    EXPECT_EQ(m_view->ElapsedSeconds(), 3);
    EXPECT_EQ(m_view->findChild<QLineEdit*>(QStringLiteral("elapsed"))->text(),
              QStringLiteral("3"));
    deliver(StreamingStatus::FileFinished(185));
    EXPECT_EQ(m_view->Progress()->value(), 185);
    EXPECT_TRUE(m_view->FileList()->item(1, 0)->icon().isNull());
    deliver({static_cast<StreamingStatusCode>(7), 0, false, 0});  // unknown codes do nothing
    EXPECT_EQ(m_view->Progress()->value(), 185);
    deliver(StreamingStatus::FileStarted(0));
    deliver(StreamingStatus::Ended());  // stopped half-way through the first file
    EXPECT_TRUE(m_view->FileList()->item(0, 0)->icon().isNull());
    EXPECT_EQ(m_view->Progress()->value(), 0);
    EXPECT_EQ(m_view->ElapsedSeconds(), 0);
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Ready"));  // the run ended

    const QString failed = QStringLiteral("Failed to stream, check the file and audio codecs");
    deliver(StreamingStatus::OpenFailed(0));
    EXPECT_EQ(m_frame->MessageText(), failed);
    EXPECT_FALSE(m_view->FileList()->item(0, 0)->toolTip().isEmpty());  // the row says so too
    // The worker's reports of the next file, sent before it saw the stop, and its end leave
    // the failure in view; so does the pointer passing over the toolbar.
    deliver(StreamingStatus::FileStarted(1));
    deliver(StreamingStatus::SecondElapsed(1));
    deliver(StreamingStatus::Ended());
    m_frame->statusBar()->showMessage(QStringLiteral("Add file to playlist"));
    m_frame->statusBar()->clearMessage();
    EXPECT_EQ(m_frame->MessageText(), failed);
    // A failure of an index beyond the list is harmless.
    deliver(StreamingStatus::OpenFailed(5));
    EXPECT_EQ(m_frame->MessageText(), failed);
    // The next command clears it.
    m_ui->AnswerModal([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
    m_view->OnCommand(cmd::ID_VOLUME);
    EXPECT_EQ(m_frame->MessageText(), QStringLiteral("Ready"));
}

}  // namespace
}  // namespace viewtest
