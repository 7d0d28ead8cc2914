#include "style_sheet.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QPushButton>
#include <QResource>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVariant>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "test_qt_resources.h"

// Readable sizes in failure messages.
void PrintTo(const QSize& size, std::ostream* os) {
    *os << size.width() << "x" << size.height();
}

namespace {

using Rule = std::pair<std::string, std::vector<std::string>>;  // selector, declarations

// The rules other parts of the viewer rely on, in the order they must appear.
const std::vector<Rule>& expectedRules() {
    static const std::vector<std::string> button = {
        "background-color: #D36737", "color: #F5F6F6",     "border-style: outset",
        "border-width: 1px",         "border-radius: 5px", "border-color: #051C26",
        "font: bold 12px",           "padding: 3px"};
    static const std::vector<std::string> controlButton = [] {
        auto declarations = button;
        declarations.emplace_back("width: 15px");
        declarations.emplace_back("height: 15px");
        return declarations;
    }();
    static const std::vector<Rule> rules = {
        {"QWidget", {"background-color: #F5F6F6", "color: #051C26"}},
        {"QMenu::item", {"color: #051C26"}},
        {"QMenu::item:selected", {"background-color: #CDD2D4"}},
        {"QPushButton", button},
        {"QPushButton[control=\"true\"]", controlButton},
        {"QSpinBox:disabled", {"color: #CDD2D4"}},
        {"QPushButton:disabled", {"background-color: #F5F6F6", "color: #9A9A9A"}},
        {"QPushButton:hover", {"background-color: #CDD2D4", "color: #051C26"}},
        {"SceneView", {"qproperty-mycolor: #E8E8E8"}},
        {"GraphView",
         {"qproperty-graphlinecolor: #27637A", "qproperty-graphinputlinecolor: #d36737",
          "qproperty-graphframecolor: #051C26", "qproperty-graphbgcolor: #F5F6F6",
          "qproperty-graphsweeplinecolor: #69777D", "qproperty-graphgridcolor: #E2E2E2"}},
    };
    return rules;
}

// White space collapsed to single blanks and trimmed, so layout does not matter.
std::string simplified(const std::string& text) {
    return QString::fromStdString(text).simplified().toStdString();
}

// Splits a sheet without comments into its rules; declarations keep their order.
std::vector<Rule> parseRules(const std::string& sheet) {
    std::vector<Rule> rules;
    std::size_t position = 0;
    for (;;) {
        const std::size_t open = sheet.find('{', position);
        if (open == std::string::npos) {
            break;
        }
        const std::size_t close = sheet.find('}', open);
        if (close == std::string::npos) {
            ADD_FAILURE() << "unterminated rule";
            break;
        }
        Rule rule{simplified(sheet.substr(position, open - position)), {}};
        const std::string body = sheet.substr(open + 1, close - open - 1);
        std::size_t start = 0;
        while (start < body.size()) {
            std::size_t end = body.find(';', start);
            if (end == std::string::npos) {
                end = body.size();
            }
            const std::string declaration = simplified(body.substr(start, end - start));
            if (!declaration.empty()) {
                rule.second.push_back(declaration);
            }
            start = end + 1;
        }
        rules.push_back(std::move(rule));
        position = close + 1;
    }
    EXPECT_EQ(simplified(sheet.substr(position)), "") << "text after the last rule";
    return rules;
}

QByteArray readResource() {
    QFile file(QString::fromLatin1(STYLE_SHEET_PATH));
    EXPECT_TRUE(file.open(QFile::ReadOnly));
    return file.readAll();
}

class StyleSheetTest : public testing::Test {
protected:
    void SetUp() override { initTestQtResources(); }
};

}  // namespace

TEST_F(StyleSheetTest, ResourceIsUncompressedPlainAscii) {
    const QResource resource(QString::fromLatin1(STYLE_SHEET_PATH));
    ASSERT_TRUE(resource.isValid());
    EXPECT_EQ(resource.compressionAlgorithm(), QResource::NoCompression);

    const QByteArray bytes = readResource();
    EXPECT_EQ(bytes.size(), 1119);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const bool printable = byte >= 0x20 && byte < 0x7f;
        ASSERT_TRUE(printable || byte == '\n' || byte == '\t') << "byte " << i << " is " << +byte;
    }
}

TEST_F(StyleSheetTest, HoldsExactlyTheRulesInOrder) {
    const QByteArray bytes = readResource();
    EXPECT_EQ(parseRules(bytes.toStdString()), expectedRules());
}

TEST_F(StyleSheetTest, LoadedSheetIsTheWholeResource) {
    EXPECT_EQ(loadStyleSheet(), QString::fromLatin1(readResource()));
}

// Applies the sheet to a real application: the step buttons of the main window carry the
// dynamic property control=true and get a 15 x 15 contents box, inside the 3px padding and 1px
// border every button of the sheet has.
TEST(StyleSheetGuiTest, ControlButtonsAreFifteenPixelsSquare) {
    ASSERT_NE(qApp, nullptr);
    qApp->setStyleSheet(loadStyleSheet());

    QPushButton control(QStringLiteral("+"));
    control.setProperty("control", true);
    control.resize(control.sizeHint());
    QStyleOptionButton option;
    option.initFrom(&control);
    option.text = control.text();
    const QRect contents =
        control.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &control);
    EXPECT_EQ(contents.size(), QSize(15, 15));
    EXPECT_EQ(control.sizeHint(), QSize(15 + 2 * (3 + 1), 15 + 2 * (3 + 1)));

    // Only the boolean true selects the small look; every button gets the sheet's colours.
    for (const QVariant& value : {QVariant(), QVariant(false)}) {
        SCOPED_TRACE(value.typeName() != nullptr ? value.typeName() : "no property");
        QPushButton other(QStringLiteral("+"));
        other.setProperty("control", value);
        other.ensurePolished();
        EXPECT_NE(other.sizeHint(), control.sizeHint());
        EXPECT_EQ(other.palette().color(QPalette::Button), QColor(0xD3, 0x67, 0x37));
        EXPECT_EQ(other.palette().color(QPalette::ButtonText), QColor(0xF5, 0xF6, 0xF6));
    }

    qApp->setStyleSheet(QString());
}
