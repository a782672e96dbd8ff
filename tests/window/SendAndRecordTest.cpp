// The bound fields, sending from the window (Set Mag.), the two Clear buttons and recording.
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "Recording.h"
#include "SmallFileSystem.h"
#include "WindowFixture.h"

namespace {

namespace fs = std::filesystem;

using Fields = WindowTest;
using SendFromWindow = WindowTest;

// Clears a field as the operator would and types into it.
void Type(QLineEdit* edit, const char* text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

TEST_F(Fields, AddressCommitsOnEveryChange) {
    QLineEdit* address = Edit(IDC_EDIT_ADDRESS);
    Type(address, "007");
    EXPECT_EQ(dlg->m_nAddress, 7u);
    EXPECT_TRUE(sink.boxes.empty());
    dlg->UpdateData(false);
    EXPECT_EQ(address->text(), "7");
    // Deleting the last character commits the empty field: rejected at once.
    QTest::keyClick(address, Qt::Key_Backspace);
    ExpectOneBox(QStringLiteral("“请填入一个正整数。”"), "TORVA", BoxIcon::Exclamation);
    EXPECT_EQ(dlg->m_nAddress, 7u);
    address->setText("99999999999");
    EXPECT_EQ(dlg->m_nAddress, 4294967295u);
}

TEST_F(Fields, NewAddressTakesDigitsOnly) {
    Type(Edit(IDC_EDIT_NEW_ADDRESS), "1a2-");
    EXPECT_EQ(Text(IDC_EDIT_NEW_ADDRESS), "12");
    EXPECT_EQ(dlg->m_nNewAddress, 12u);
}

TEST_F(Fields, DeclinationCommitsWhenItLosesTheFocus) {
    QLineEdit* edit = Edit(IDC_EDIT_DECLINATION);
    Type(edit, "-1");
    EXPECT_DOUBLE_EQ(dlg->m_dDeclination, -0.1);  // typing alone commits nothing
    Button(IDC_BTN_SETZERO)->setFocus();
    EXPECT_DOUBLE_EQ(dlg->m_dDeclination, -1.0);
    // Uncommitted text is replaced by the next refresh.
    edit->setFocus();
    edit->setText("5");
    dlg->UpdateData(false);
    EXPECT_EQ(edit->text(), "-1");
}

TEST_F(SendFromWindow, SetMagSendsTheCommittedDeclinationOnceWithAddressZero) {
    Open();
    Edit(IDC_EDIT_ADDRESS)->setText("3");
    Type(Edit(IDC_EDIT_DECLINATION), "-12.37");
    // Clicking the button takes the focus from the field, which commits it first.
    QTest::mouseClick(Button(IDC_BTN_SETMAG), Qt::LeftButton);
    EXPECT_EQ(SentHex(), "68 06 00 06 11 23 40");
    EXPECT_TRUE(sink.boxes.empty());
    // The line is logged at once but shown only at the next refresh, and a commit before that
    // refresh does not take it back out of the log.
    const std::string line = "68 06 00 06 11 23 40 \r\n";
    EXPECT_EQ(dlg->session().log().sendText(), line);
    EXPECT_EQ(Text(IDC_EDIT_SEND), "");
    Edit(IDC_EDIT_ADDRESS)->setText("4");
    EXPECT_EQ(dlg->session().log().sendText(), line);
    Click(IDC_BTN_CLEAR_RECEIVED);
    EXPECT_EQ(Text(IDC_EDIT_SEND), "68 06 00 06 11 23 40 \n");
}

TEST_F(SendFromWindow, SetMagRefusesADeclinationThatWouldReachTheSignNibble) {
    Click(IDC_BTN_SETMAG);  // port closed: the adapter's error, nothing logged
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(dlg->session().log().sendText(), "");
    sink.boxes.clear();
    Open();
    for (const char* text : {"160", "-160", "1e9", "159.9"}) {
        Edit(IDC_EDIT_DECLINATION)->setText(text);
        ASSERT_TRUE(dlg->UpdateData(true));
        Click(IDC_BTN_SETMAG);
    }
    EXPECT_EQ(SentHex(), "68 06 00 06 0F 99 B4");  // only 159.9
    ASSERT_EQ(sink.boxes.size(), 3u);
    EXPECT_TRUE(sink.boxes[0].text.contains("-159.9 and 159.9"));
    EXPECT_EQ(sink.boxes[1].text, sink.boxes[0].text);
    EXPECT_EQ(sink.boxes[0].caption, "TORVA");
    EXPECT_EQ(dlg->session().log().sendText(),
              "68 06 00 06 0f 99 b4 \r\n");  // logged in lower case
}

TEST_F(SendFromWindow, ClearButtonsEmptyOnlyTheirPane) {
    Open();
    Click(IDC_BTN_CAL_STOP);
    Receive(Bytes({0x68, 0x04, 0x00, 0x86, 0x8A}));
    Click(IDC_BTN_CLEAR_SEND);
    EXPECT_EQ(Text(IDC_EDIT_SEND), "");
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED), "68 04 00 86 8A \n");
    Click(IDC_BTN_CLEAR_RECEIVED);
    EXPECT_EQ(Text(IDC_EDIT_RECEIVED), "");
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A window whose record folder is a fresh $HOME/COMDATA under a temporary home.
class Recording : public WindowTest {
protected:
    void SetUp() override {
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
    const fs::path home = fs::temp_directory_path() / ("torva-home-" + std::to_string(::getpid()));
    const fs::path folder = home / "COMDATA";
};

TEST_F(Recording, SaveStartsNumberedFilesAndStopOrClosingTheWindowEndsThem) {
    Open();
    Receive(Bytes({0x68, 0x04, 0x00, 0x84, 0x88}));
    Click(IDC_BTN_RECORD);
    EXPECT_EQ(Text(IDC_BTN_RECORD), "Stop");
    const std::string header = ReadFile(folder / "Rec00.txt");
    EXPECT_EQ(header.rfind("Date: ", 0), 0u) << header;
    EXPECT_EQ(header.size(), std::string("Date: 2026-12-07  Time:09:05:03\r\n").size()) << header;
    Click(IDC_BTN_RECORD);
    EXPECT_EQ(Text(IDC_BTN_RECORD), "Save");
    std::string content = ReadFile(folder / "Rec00.txt");
    EXPECT_NE(content.find("\r\n68 04 00 84 88 \r\nEnd Date: "), std::string::npos) << content;
    // The next file; closing the window keeps its pending lines and writes the end line.
    Click(IDC_BTN_RECORD);
    Receive(Bytes({0x68, 0x04, 0x00, 0x86, 0x8A}));
    Receive(Bytes({0x68, 0x04, 0x00, 0x87, 0x8B}));
    EXPECT_TRUE(sink.boxes.empty());
    dlg.reset();
    content = ReadFile(folder / "Rec01.txt");
    EXPECT_NE(content.find("68 04 00 86 8A \r\n68 04 00 87 8B \r\nEnd Date: "), std::string::npos)
        << content;
}

TEST_F(Recording, AllNamesTakenRefusesToStartAndTouchesNothing) {
    fs::create_directories(folder);
    for (int n = 0; n < 100; ++n)
        std::ofstream(folder / ((n < 10 ? "Rec0" : "Rec") + std::to_string(n) + ".txt"))
            << "old " << n;
    Click(IDC_BTN_RECORD);
    EXPECT_EQ(Text(IDC_BTN_RECORD), "Save");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Exclamation);
    EXPECT_TRUE(sink.boxes[0].text.contains(QString::fromStdString(folder.string())));
    EXPECT_EQ(ReadFile(folder / "Rec00.txt"), "old 0");
    EXPECT_EQ(ReadFile(folder / "Rec99.txt"), "old 99");
}

TEST_F(Recording, UnwritableFolderShowsTheCreateMessage) {
    // A folder below a regular file cannot be made; the current directory is gone too.
    std::ofstream(home / "plainfile") << "x";
    fs::create_directories(home / "doomed");
    fs::current_path(home / "doomed");
    fs::remove(home / "doomed");
    dlg->m_strSaveFolder = (home / "plainfile" / "sub").string();
    Click(IDC_BTN_RECORD);
    ExpectOneBox("Creat file is fail!", "TORVA", BoxIcon::Exclamation);
    EXPECT_EQ(Text(IDC_BTN_RECORD), "Save");
}

// A record folder that cannot be made or opened: the create message, and nothing written
// anywhere, neither in the directory the console runs in nor on the way to the folder.
enum class Unmakeable { ReadOnlyHome, PathOver4096Characters, NameOver255Characters };

class UnmakeableFolder : public Recording, public ::testing::WithParamInterface<Unmakeable> {};

TEST_P(UnmakeableFolder, ShowsTheCreateMessageAndWritesNothingAnywhere) {
    const fs::path runningIn = home / "cwd";
    fs::create_directories(runningIn);
    std::optional<SmallFileSystem> readOnly;
    switch (GetParam()) {
        case Unmakeable::ReadOnlyHome:
            readOnly.emplace(home / "ro", "size=64k,ro");
            if (!readOnly->Mounted())
                GTEST_SKIP() << "cannot mount a read-only file system (needs root): "
                             << readOnly->Error();
            qputenv("HOME", QByteArray::fromStdString((home / "ro").string()));
            dlg->m_strSaveFolder = DefaultSaveFolder();
            break;
        case Unmakeable::PathOver4096Characters: {
            fs::path deep = home;
            while (deep.string().size() <= 4096)
                deep /= std::string(100, 'd');
            dlg->m_strSaveFolder = deep.string();
            break;
        }
        case Unmakeable::NameOver255Characters:
            dlg->m_strSaveFolder = (home / "a" / std::string(256, 'n') / "b").string();
            break;
    }
    fs::current_path(runningIn);
    Click(IDC_BTN_RECORD);
    ExpectOneBox("Creat file is fail!", "TORVA", BoxIcon::Exclamation);
    EXPECT_EQ(Text(IDC_BTN_RECORD), "Save");
    EXPECT_EQ(fs::current_path(), runningIn);
    std::vector<std::string> written;
    for (const auto& entry : fs::recursive_directory_iterator(home))
        written.push_back(entry.path().lexically_relative(home).string().substr(0, 60));
    std::sort(written.begin(), written.end());
    const std::vector<std::string> made =
        readOnly ? std::vector<std::string>{"cwd", "ro"} : std::vector<std::string>{"cwd"};
    EXPECT_EQ(written, made);
}

std::string UnmakeableName(const ::testing::TestParamInfo<Unmakeable>& info) {
    switch (info.param) {
        case Unmakeable::ReadOnlyHome:
            return "ReadOnlyHome";
        case Unmakeable::PathOver4096Characters:
            return "PathOver4096Characters";
        case Unmakeable::NameOver255Characters:
            return "NameOver255Characters";
    }
    return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(Recording, UnmakeableFolder,
                         ::testing::Values(Unmakeable::ReadOnlyHome,
                                           Unmakeable::PathOver4096Characters,
                                           Unmakeable::NameOver255Characters),
                         UnmakeableName);

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
