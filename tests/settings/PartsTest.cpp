// The window's parts on their own: the string table, the localisation of the
// lists, the separator line and the check lists.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QSet>
#include <QSignalSpy>
#include <sstream>
#include <tuple>

#include "CheckList.h"
#include "Localisation.h"
#include "StringTable.h"
#include "axLine.h"

namespace {

using namespace kv::settings;
using Names = std::vector<std::string>;

TEST(StringTable, HoldsEveryRowOfTheWindowAndFailsOnMissingOrMalformedRows) {
  auto table = StringTable::FromProgramResources();
  ASSERT_TRUE(table) << table.error().message;
  for (int id = 101; id <= 133; ++id) EXPECT_TRUE(table->Load(id)) << "the English block, row " << id;
  auto missing = table->Load(134);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, kv::ErrorCode::NotFound);
  auto parsed = StringTable::Parse("# comment\r\n\n5= spaced = kept [0|0] \r\n", "test");
  ASSERT_TRUE(parsed) << parsed.error().message;
  EXPECT_EQ(*parsed->Load(5), " spaced = kept [0|0] ") << "the text as it stands, blanks and all";
  for (const char* bad : {"text without id", "=no id", "12x=bad id", "1=a\n1=again"}) {
    auto failed = StringTable::Parse(bad, "the table");
    ASSERT_FALSE(failed) << bad;
    EXPECT_NE(failed.error().message.find("the table line"), std::string::npos) << failed.error().message;
  }
}

// The five lists and a window, as ApplyLocalisation meets them.
struct Lists {
  QWidget window;
  QComboBox* various = new QComboBox(&window);
  QComboBox* mode = new QComboBox(&window);
  QComboBox* frequency = new QComboBox(&window);
  QComboBox* vertical = new QComboBox(&window);
  QComboBox* horizontal = new QComboBox(&window);
  std::array<QString, 5> pages;
  Lists() {
    for (QComboBox* list : {various, mode, frequency, vertical, horizontal}) list->resize(100, 21);
  }
  LocalisedControls Controls() { return {&window, various, mode, frequency, vertical, horizontal, &pages}; }
};

// The program's table with the row `id` replaced.
StringTable TableWith(int id, const std::string& text) {
  (void)StringTable::FromProgramResources();  // registers the resources
  QFile file(":/KvSettings/strings.txt");
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  std::string content;
  std::istringstream lines(file.readAll().toStdString());
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(std::to_string(id) + "=", 0) != 0) content += line + "\n";
  }
  auto table = StringTable::Parse(content + std::to_string(id) + "=" + text + "\n", "test table");
  EXPECT_TRUE(table) << table.error().message;
  return *table;
}

TEST(Localisation, FillsTheListsKeepsTheirPositionsWidensThemAndStopsAtBadTexts) {
  auto table = StringTable::FromProgramResources();
  ASSERT_TRUE(table);
  for (std::int32_t language : {100, 300}) {
    Lists lists;
    ASSERT_TRUE(ApplyLocalisation(lists.Controls(), *table, language)) << language;
    EXPECT_EQ((QStringList{lists.various->currentText(), lists.pages[4], lists.frequency->currentText(),
                           lists.vertical->currentText(), lists.horizontal->currentText(), lists.mode->currentText(),
                           lists.window.windowTitle()}),
              (QStringList{"Effects", "Position", "Hour", "Random", "Random", "Tile", "Kvillo Setup"}));
    EXPECT_EQ(lists.frequency->width(), 100) << "[0|0] widens nothing";
  }
  // A second run keeps the positions chosen, and widens again.
  Lists lists;
  StringTable wide = TableWith(
      124, "Minute///Five minutes///Fifteen minutes///Half hour///Hour///Day///Week///Month///Time I boot[0|200]");
  ASSERT_TRUE(ApplyLocalisation(lists.Controls(), wide, 100));
  EXPECT_EQ(lists.frequency->width(), 113) << "200 twips are 13 pixels";
  EXPECT_EQ(lists.mode->width(), 100);
  lists.frequency->setCurrentIndex(7);
  lists.various->setCurrentIndex(2);
  lists.vertical->setCurrentIndex(0);
  ASSERT_TRUE(ApplyLocalisation(lists.Controls(), wide, 100));
  EXPECT_EQ(lists.frequency->currentText(), "Month");
  EXPECT_EQ(lists.various->currentText(), "Font");
  EXPECT_EQ(lists.vertical->currentText(), "Top") << "the first position is kept too, not the default";
  EXPECT_EQ(lists.frequency->width(), 126) << "the widening adds up with each run";
  for (auto [id, text, message] : {std::tuple{113, "A///B///C///D///E///F[0|0]", "more than 5 pages"},
                                    {124, "Minute///Hour[0|0]", "too few for position 4"},
                                    {114, "Tile///Stretch///Center", "suffix"},
                                    {114, "Tile///Stretch///Center[0|0", "does not end in"},
                                    {125, "Top///Bottom///Center///Random[0|x]", "whole numbers"}}) {
    Lists failing;
    auto result = ApplyLocalisation(failing.Controls(), TableWith(id, text), 100);
    ASSERT_FALSE(result) << text;
    EXPECT_NE(result.error().message.find(message), std::string::npos) << result.error().message;
  }
  // Fewer than five page names leave the other pages' names empty.
  Lists few;
  ASSERT_TRUE(ApplyLocalisation(few.Controls(), TableWith(113, "One///Two[0|0]"), 100));
  EXPECT_EQ((std::tuple(few.various->count(), few.various->itemText(1), few.various->itemText(4))), std::tuple(5, "Two", ""));
}

QImage Render(QWidget& widget) {
  QImage image(widget.size(), QImage::Format_RGB32);
  image.fill(Qt::magenta);
  widget.render(&image);
  return image;
}

TEST(LineControl, KeepsItsPropertiesAndDrawsAnEtchedLineThatTheCaptionInterrupts) {
  QWidget host;
  host.resize(300, 40);
  axLine line(&host);
  line.setGeometry(0, 0, 300, 20);
  QSignalSpy changed(&line, &axLine::PropertyChanged);
  EXPECT_EQ(line.Label()->text(), " Caption ") << "the default caption";
  EXPECT_EQ(line.Label()->pos(), QPoint(6, 0));
  line.Caption("  Padded  ");
  EXPECT_EQ(line.Label()->text(), "   Padded   ");
  EXPECT_EQ(line.Caption(), "Padded") << "every blank around it is removed on reading";
  line.ForeColor(0x123456);
  line.Enabled(true);
  line.BorderStyle(-2);
  EXPECT_TRUE(line.isEnabled()) << "the stored Enabled does not disable the control";
  EXPECT_EQ(changed.count(), 4);
  // Saved and read back by name; values equal to their defaults left out.
  QFont hostFont = host.font();
  QVariantMap bag;
  line.WriteProperties(bag, hostFont);
  EXPECT_EQ(QSet<QString>(bag.keyBegin(), bag.keyEnd()),
            (QSet<QString>{"Caption", "ForeColor", "Enabled", "BorderStyle"}));
  axLine restored(&host);
  restored.ReadProperties(bag, hostFont);
  EXPECT_EQ(restored.Label()->text(), "   Padded   ") << "exactly as saved, no blanks added";
  EXPECT_EQ(std::tuple(restored.ForeColor(), restored.BorderStyle()), std::tuple(0x123456u, -2));
  EXPECT_EQ(restored.Font(), hostFont) << "a missing font is the host's";
  // Two lines, dark over white, from edge to edge, but under the caption.
  QColor shadow = line.palette().color(QPalette::Dark);
  line.Caption("Alignment");
  int y = line.LineY();
  int height = line.Label()->height();
  EXPECT_EQ(y, height / 2 + ((height % 2 == 1 && (height / 2) % 2 == 1) ? 1 : 0)) << "half the label, halves to even";
  QImage image = Render(line);
  int right = line.Label()->geometry().right() + 5;
  EXPECT_EQ(image.pixel(right, y), shadow.rgb());
  EXPECT_EQ(image.pixel(right, y + 1), QColor(Qt::white).rgb());
  EXPECT_EQ(image.pixel(2, y), shadow.rgb()) << "the line starts at the left edge";
  EXPECT_EQ(image.pixel(299, y + 1), QColor(Qt::white).rgb()) << "and runs to the right edge";
  EXPECT_NE(image.pixel(line.Label()->x() + 1, y), shadow.rgb()) << "the caption covers the line";
  line.BackColor(0x00FF00);
  EXPECT_EQ(Render(line), image) << "the colour properties leave the drawing as it is";
  line.Caption("");
  line.Label()->setText("");
  EXPECT_EQ(line.LineY(), 0);
  QImage bare = Render(line);
  EXPECT_EQ(bare.pixel(150, 0), shadow.rgb()) << "without a caption the lines are at the very top";
  EXPECT_EQ(bare.pixel(150, 1), QColor(Qt::white).rgb());
}

TEST(CheckLists, HundredsOfNamesWithDuplicatesAndBlanks) {
  Names available, selected;
  for (int i = 0; i < 600; ++i) available.push_back("Family " + std::to_string(i % 500));  // 100 doubled
  available.insert(available.end(), {"   ", ""});
  for (int i = 0; i < 600; i += 2) selected.push_back("Family " + std::to_string(i % 500));
  selected.push_back("Not there");
  QListWidget list;
  FillCheckedList(&list, available, selected);
  ASSERT_EQ(list.count(), 600) << "blank names are skipped";
  EXPECT_EQ(list.currentItem(), nullptr);
  EXPECT_EQ(list.item(500)->checkState(), Qt::Unchecked) << "a second \"Family 0\" is never checked";
  Names collected;
  CollectCheckedItems(&list, collected, "Arial");
  ASSERT_EQ(collected.size(), 250u) << "each selected name once, at its first entry";
  EXPECT_EQ(collected[1], "Family 2");
  FillCheckedList(&list, {"beta", "Alpha", "alpha", "Gamma"}, {}, ListOrder::Alphabetical);
  Names order;
  for (int row = 0; row < list.count(); ++row) order.push_back(EntryName(list.item(row)));
  EXPECT_EQ(order, (Names{"Alpha", "alpha", "beta", "Gamma"})) << "letter case ignored, ties as given";
}

}  // namespace
