// Sending from the window (Set Mag.), the two Clear buttons and recording to files.
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "WindowFixture.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A window whose record folder is a fresh $HOME/COMDATA under a temporary home.
class Recording : public WindowTest {
protected:
    void SetUp() override {
        home = fs::temp_directory_path() / ("torva-home-" + std::to_string(::getpid()));
        fs::remove_all(home);
        fs::create_directories(home);
        qputenv("HOME", QByteArray::fromStdString(home.string()));
        WindowTest::SetUp();
    }
    void TearDown() override {
        WindowTest::TearDown();
        std::error_code ec;
        fs::current_path(fs::temp_directory_path(), ec);
        fs::remove_all(home, ec);
    }
    fs::path Folder() const { return home / "COMDATA"; }
    fs::path home;
};

using SendFromWindow = WindowTest;

TEST_F(SendFromWindow, SetMagSendsTheCommittedDeclinationOnceWithAddressZero) {
    Open();
    Edit(IDC_EDIT_ADDRESS)->setText("3");
    QLineEdit* declination = Edit(IDC_EDIT_DECLINATION);
    declination->setFocus();
    declination->selectAll();
    QTest::keyClicks(declination, "-12.37");
    // Clicking the button takes the focus from the field, which commits it first.
    QTest::mouseClick(Button(IDC_BTN_SETMAG), Qt::LeftButton);
    EXPECT_EQ(Hex(Sent()), "68 06 00 06 11 23 40");
    EXPECT_TRUE(sink.boxes.empty());
    // The line is logged at once but shown only at the next refresh.
    EXPECT_EQ(dlg->m_strSend, "68 06 00 06 11 23 40 \r\n");
    EXPECT_EQ(Text(IDC_EDIT_SEND), "");
    // A commit before that refresh does not take the line back out of the log.
    Edit(IDC_EDIT_ADDRESS)->setText("4");
    EXPECT_EQ(dlg->m_strSend, "68 06 00 06 11 23 40 \r\n");
    Click(IDC_BTN_CLEAR_RECEIVED);
    EXPECT_EQ(Text(IDC_EDIT_SEND), "68 06 00 06 11 23 40 \n");
}

TEST_F(SendFromWindow, SetMagRefusesADeclinationThatWouldReachTheSignNibble) {
    Open();
    for (const char* text : {"160", "-160", "1e9"}) {
        Edit(IDC_EDIT_DECLINATION)->setText(text);
        ASSERT_TRUE(dlg->UpdateData(true));
        Click(IDC_BTN_SETMAG);
    }
    EXPECT_TRUE(Sent().empty());
    ASSERT_EQ(sink.boxes.size(), 3u);
    EXPECT_TRUE(sink.boxes[0].text.contains("-159.9 and 159.9"));
    EXPECT_EQ(sink.boxes[0].caption, "TORVA");
    EXPECT_EQ(dlg->m_strSend, "");

    Edit(IDC_EDIT_DECLINATION)->setText("159.9");
    ASSERT_TRUE(dlg->UpdateData(true));
    Click(IDC_BTN_SETMAG);
    EXPECT_EQ(Hex(Sent()), "68 06 00 06 0F 99 B4");
}

TEST_F(SendFromWindow, SetMagWithThePortClosedShowsTheAdaptersErrorAndLogsNothing) {
    Click(IDC_BTN_SETMAG);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(dlg->m_strSend, "");
}

TEST_F(SendFromWindow, ClearButtonsEmptyOnlyTheirPane) {
    Open();
    dlg->m_strSend = "68 04 00 04 08 \r\n";
    dlg->m_strReceived = "68 \r\n";
    Click(IDC_BTN_CLEAR_SEND);
    EXPECT_EQ(Text(IDC_EDIT_SEND), "");
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED), "68 \n");
    Click(IDC_BTN_CLEAR_RECEIVED);
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED), "");
}

TEST_F(Recording, SaveStartsAndStopsNumberedFiles) {
    Open();
    Receive(Bytes({0x68, 0x04, 0x00, 0x84, 0x88}));
    Click(IDC_BTN_RECORD);
    EXPECT_EQ(Text(IDC_BTN_RECORD), "Stop");
    const fs::path first = Folder() / "Rec00.txt";
    ASSERT_TRUE(fs::exists(first));
    const std::string header = ReadFile(first);
    EXPECT_EQ(header.rfind("Date: ", 0), 0u) << header;
    EXPECT_EQ(header.size(), std::string("Date: 2026-12-07  Time:09:05:03\r\n").size()) << header;

    Click(IDC_BTN_RECORD);
    EXPECT_EQ(Text(IDC_BTN_RECORD), "Save");
    const std::string content = ReadFile(first);
    EXPECT_NE(content.find("\r\n68 04 00 84 88 \r\nEnd Date: "), std::string::npos) << content;

    Click(IDC_BTN_RECORD);
    EXPECT_TRUE(fs::exists(Folder() / "Rec01.txt"));
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(Recording, ClosingTheWindowWhileRecordingKeepsPendingLinesAndTheEndLine) {
    Open();
    Click(IDC_BTN_RECORD);
    Receive(Bytes({0x68, 0x04, 0x00, 0x86, 0x8A}));
    Receive(Bytes({0x68, 0x04, 0x00, 0x87, 0x8B}));
    dlg.reset();
    const std::string content = ReadFile(Folder() / "Rec00.txt");
    EXPECT_NE(content.find("68 04 00 86 8A \r\n68 04 00 87 8B \r\nEnd Date: "), std::string::npos)
        << content;
}

TEST_F(Recording, AllNamesTakenRefusesToStartAndTouchesNothing) {
    fs::create_directories(Folder());
    for (int n = 0; n < 100; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "Rec%02d.txt", n);
        std::ofstream(Folder() / name) << "old " << n;
    }
    Click(IDC_BTN_RECORD);
    EXPECT_EQ(Text(IDC_BTN_RECORD), "Save");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "TORVA");
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Exclamation);
    EXPECT_TRUE(sink.boxes[0].text.contains(QString::fromStdString(Folder().string())));
    EXPECT_EQ(ReadFile(Folder() / "Rec00.txt"), "old 0");
    EXPECT_EQ(ReadFile(Folder() / "Rec99.txt"), "old 99");
}

TEST_F(Recording, UnwritableFolderShowsTheCreateMessage) {
    // A folder below a regular file cannot be made; the current directory is gone too.
    std::ofstream(home / "plainfile") << "x";
    const fs::path doomed = home / "doomed";
    fs::create_directories(doomed);
    fs::current_path(doomed);
    fs::remove(doomed);
    dlg->m_strSaveFolder = (home / "plainfile" / "sub").string();
    Click(IDC_BTN_RECORD);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Creat file is fail!");
    EXPECT_EQ(Text(IDC_BTN_RECORD), "Save");
}

TEST_F(Recording, BrowseChoosesTheFolderOfTheNextRecording) {
    sink.folderAnswer = QString::fromStdString((home / "elsewhere").string());
    Click(IDC_BTN_BROWSE);
    ASSERT_EQ(sink.folderTitles.size(), 1u);
    EXPECT_EQ(sink.folderTitles[0], QStringLiteral("请选择要保存接收数据的文件夹"));
    Click(IDC_BTN_RECORD);
    EXPECT_TRUE(fs::exists(home / "elsewhere" / "Rec00.txt"));

    sink.folderAnswer.reset();  // cancelled: nothing changes
    Click(IDC_BTN_BROWSE);
    EXPECT_EQ(dlg->m_strSaveFolder, (home / "elsewhere").string());
}

}  // namespace
