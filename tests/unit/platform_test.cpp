// The component layer's shared parts: text helpers, the progress bar's scaling, the dataset
// cursor, the headless modal loop and the exclusive POSIX file streams.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/database.h"
#include "platform/errors.h"
#include "platform/portable/clocks.h"
#include "platform/portable/headless_ui.h"
#include "platform/portable/posix_files.h"
#include "platform/text.h"
#include "temp_dir.h"

namespace finprep {
namespace {

TEST(Text, ReplaceFirstIgnoreCase) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"Initial Catalog=master;Data Source=x", "Initial Catalog=vorira;Data Source=x"},
      {"Initial Catalog=MaStEr", "Initial Catalog=vorira"},
      {"User ID=master;Initial Catalog=master", "User ID=vorira;Initial Catalog=master"},
      {"Initial Catalog=tempdb", "Initial Catalog=tempdb"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReplaceFirstIgnoreCase(c.in, "master", "vorira"), c.out);
}

TEST(Text, TrimParseAndQuotes) {
  EXPECT_EQ(Trim(" \t 12\r\n"), "12");
  EXPECT_EQ(Trim("中 文"), "中 文");
  EXPECT_EQ(ParseInt32("42"), 42);
  EXPECT_EQ(ParseInt32("-7"), -7);
  EXPECT_EQ(ParseInt32("2147483648"), std::nullopt);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInt32("1x"), std::nullopt);
  EXPECT_EQ(ParseInt32(""), std::nullopt);
  EXPECT_EQ(DoubleQuotes("D:\\O'Brien\\''"), "D:\\O''Brien\\''''");
}

TEST(Text, Utf8AndClasses) {
  auto decoded = DecodeUtf8("a中𝄞");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, U"a中𝄞");
  EXPECT_EQ(EncodeUtf8(*decoded), "a中𝄞");
  EXPECT_FALSE(DecodeUtf8("\xE4\xB8"));      // truncated
  EXPECT_FALSE(DecodeUtf8("\xC0\xAF"));      // overlong
  EXPECT_FALSE(DecodeUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_EQ(Utf8ToUtf16("a中𝄞"), u"a中𝄞");
  EXPECT_EQ(Utf8ToUtf16("a\xE4\xB8z"), u"a\uFFFD\uFFFDz");  // a cut sequence, byte by byte
  EXPECT_EQ(Utf16ToUtf8(u"a中𝄞"), "a中𝄞");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'x', char16_t(0xD834)}), "x\uFFFD");  // unpaired
  EXPECT_TRUE(IsUnicodeLetterOrMark(U'中'));
  EXPECT_TRUE(IsUnicodeLetterOrMark(U'é'));
  EXPECT_FALSE(IsUnicodeLetterOrMark(U'\u3000'));  // ideographic space
  EXPECT_FALSE(IsUnicodeLetterOrMark(U'，'));
  EXPECT_TRUE(IsUnicodeDecimalDigit(U'٣'));
  EXPECT_FALSE(IsUnicodeDecimalDigit(U'a'));
}

class RecordingBar : public ProgressBar {
 public:
  std::vector<std::pair<std::int32_t, std::int32_t>> shown;

 protected:
  void Show(std::int32_t range, std::int32_t position) override {
    shown.emplace_back(range, position);
  }
};

TEST(ProgressBar, ScalesLargeCountsIntoThirtyTwoBits) {
  RecordingBar bar;
  const std::int64_t total = (std::int64_t{5} << 30) + 4;  // 5 GiB and a bit
  bar.SetTotalParts(total);
  bar.SetPartsComplete(total / 2);
  EXPECT_EQ(bar.Percent(), 50);
  EXPECT_GT(bar.ShownRange(), 0);
  EXPECT_LE(bar.ShownRange(), INT32_MAX);
  EXPECT_NEAR(double(bar.ShownPosition()) / bar.ShownRange(), 0.5, 1e-6);
  bar.SetPartsComplete(total);
  EXPECT_EQ(bar.Percent(), 100);
  EXPECT_EQ(bar.ShownPosition(), bar.ShownRange());
  bar.SetTotalParts(0);
  EXPECT_EQ(bar.Percent(), 0);
  bar.SetPercent(100);
  EXPECT_EQ(bar.ShownRange(), 100);
  EXPECT_EQ(bar.ShownPosition(), 100);
}

class TableDriver : public DatabaseDriver {
 public:
  struct TableSession : Session {
    std::map<std::string, ResultSet>* answers;
    std::optional<ResultSet> Query(const std::string& sql, int) override {
      auto it = answers->find(sql);
      if (it == answers->end()) throw ProviderError("no answer for " + sql);
      return it->second;
    }
    void Execute(const std::string&, int) override {}
  };
  std::map<std::string, ResultSet> answers;
  int connects = 0;
  std::unique_ptr<Session> Connect(const std::string& cs, int) override {
    if (cs.empty()) throw ProviderError("no connection string");
    ++connects;
    auto session = std::make_unique<TableSession>();
    session->answers = &answers;
    return session;
  }
};

TEST(Query, CursorAndClosedDataset) {
  TableDriver driver;
  driver.answers["two"] = ResultSet{{"LogicalName", "Type"}, {{"a", "D"}, {std::nullopt, "L"}}};
  driver.answers["none"] = ResultSet{{"LogicalName"}, {}};
  Connection connection(driver);
  Query query(connection, "FADOQuery");

  EXPECT_TRUE(query.IsEmpty());
  EXPECT_THROW(query.RecordCount(), DatabaseError);
  EXPECT_THROW(query.Field("LogicalName"), DatabaseError);

  connection.SetConnectionString("x");
  query.SetSQL("two");
  query.Open();  // opens the closed connection on the way
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(query.RecordCount(), 2);
  EXPECT_EQ(query.FieldAsString("logicalname"), "a");
  query.Next();
  EXPECT_FALSE(query.Eof());
  EXPECT_EQ(query.Field("LOGICALNAME"), std::nullopt);
  EXPECT_EQ(query.FieldAsString("LogicalName"), "");
  query.Next();  // past the last row: stays there
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ(query.FieldAsString("Type"), "L");
  EXPECT_THROW(query.Field("Missing"), DatabaseError);
  query.Close();

  query.SetSQL("none");
  query.Open();
  EXPECT_TRUE(query.IsEmpty());
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ(query.RecordCount(), 0);
  EXPECT_EQ(driver.connects, 1);
}

class ScriptedDesktop : public portable::Desktop {
 public:
  int close_at_pump = -1;
  std::vector<int> ticks;
  bool press_enter = true;
  std::vector<std::string> events;
  bool ClickClose(const portable::PumpContext& c) override { return c.pump == close_at_pump; }
  void UseChooser(portable::ChooserInput& chooser) override {
    for (int row : ticks)
      chooser.ClickCheckBox(row);
    if (press_enter) chooser.PressEnter();
  }
  void DialogShown(const std::string& caption) override { events.push_back("shown " + caption); }
  void DialogClosed(const std::string& caption, int result) override {
    events.push_back("closed " + caption + " " + std::to_string(result));
  }
};

TEST(HeadlessLoop, TimerFiresOnceAfterItsIntervalAndCloseEndsTheLoop) {
  ScriptedDesktop desktop;
  portable::ManualClock clock;
  portable::HeadlessApplication app(desktop, clock);

  auto window = app.CreateDealWithBackupWindow(Edition::HostInstance);
  int fired = 0;
  std::int64_t fired_at = -1;
  window->StartTimer().OnTimer = [&] {
    ++fired;
    fired_at = clock.NowMs();
    window->StartTimer().SetEnabled(false);
    window->SetModalResult(kModalOK);
  };
  EXPECT_EQ(window->ShowModal(), kModalOK);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(fired_at, 1000);
  EXPECT_EQ(desktop.events.back(), "closed 财务备份预处理 1");

  // Closed before the timer: the loop ends at once, the handler never runs.
  desktop.close_at_pump = 0;
  auto closed = app.CreateDealWithBackupWindow(Edition::HostInstance);
  closed->StartTimer().OnTimer = [&] { ++fired; };
  EXPECT_EQ(closed->ShowModal(), kModalCancel);
  EXPECT_EQ(fired, 1);

  // The local-server dialog has no close button: the click does nothing, and a dialog whose
  // timer is off with no result would wait for ever, which the headless loop reports.
  auto local = app.CreateDealWithBackupWindow(Edition::LocalServer);
  local->StartTimer().OnTimer = [&] { local->StartTimer().SetEnabled(false); };
  EXPECT_THROW(local->ShowModal(), Error);
}

TEST(HeadlessLoop, ChooserEnterPressesOkAfterSettingTheModalResult) {
  ScriptedDesktop desktop;
  portable::ManualClock clock;
  portable::HeadlessApplication app(desktop, clock);
  auto owner = app.CreateDealWithBackupWindow(Edition::HostInstance);
  auto chooser = app.CreateGetFileListWindow(*owner);
  chooser->List_Files().AddItem("1", "db1");
  chooser->List_Files().AddItem("2", "db2");
  int result_seen_by_click = -1;
  chooser->Btn_OK().OnClick = [&] { result_seen_by_click = chooser->ModalResult(); };
  desktop.ticks = {1};
  EXPECT_EQ(chooser->ShowModal(), kModalOK);
  EXPECT_EQ(result_seen_by_click, kModalOK);
  EXPECT_TRUE(chooser->List_Files().Checked(1));

  desktop.press_enter = false;
  EXPECT_THROW(chooser->ShowModal(), Error);
}

using test_support::TempDir;

TEST(PosixFiles, NoSharingAndTruncation) {
  TempDir dir;
  const std::string path = (dir / "a.bak");
  { std::ofstream(path) << "hello"; }
  portable::PosixFileSystem files;

  auto held = files.OpenRead(path);
  EXPECT_EQ(held->Size(), 5);
  EXPECT_THROW(files.OpenRead(path), FileError);
  EXPECT_THROW(files.Create(path), FileError);
  held.reset();

  // A file held by another program is refused and left intact.
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_THROW(files.Create(path), FileError);
  ::close(fd);
  EXPECT_EQ(std::filesystem::file_size(path), 5u);

  auto created = files.Create(path);
  EXPECT_EQ(created->Size(), 0);
  EXPECT_EQ(created->Write("abc", 3), 3u);
  created->Close();
  EXPECT_EQ(std::filesystem::file_size(path), 3u);

  try {
    files.OpenRead((dir / "missing.bak"));
    FAIL();
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.bak"), std::string::npos);
  }
  EXPECT_THROW(files.Create((dir / "no/such/folder.temp")), FileError);
  EXPECT_TRUE(files.DeleteFile(path));
  EXPECT_FALSE(files.DeleteFile(path));
}

}  // namespace
}  // namespace finprep
