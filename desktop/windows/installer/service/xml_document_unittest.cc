#include "desktop/windows/installer/service/xml_document.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/service/xml_file_test_util.h"

namespace installer {
namespace {

class XmlDocumentTest : public XmlFileTest {
 protected:
  void WriteText(const std::string& text) { ASSERT_TRUE(base::WriteTextFile(path_, text)); }

  std::string Name(const XmlDocument& document) {
    std::string name;
    EXPECT_TRUE(document.GetName(&name));
    return name;
  }
};

const char kNavigationFile[] =
    "<?xml version=\"1.0\"?>\n"
    "<!-- leading comment -->\n"
    "<root a=\"1\" b=\"two\">\n"
    "  <only_text>hello <!-- inside --> world</only_text>\n"
    "  <!-- between -->\n"
    "  <?pi between?>\n"
    "  <second><inner>x</inner><inner>y</inner></second>\n"
    "</root>\n";

TEST_F(XmlDocumentTest, NavigationSkipsEverythingButElements) {
  WriteText(kNavigationFile);
  XmlDocument document;
  std::string error;
  ASSERT_TRUE(document.LoadFile(path_, &error)) << error;

  ASSERT_EQ(XmlDocument::MOVED, document.MoveToFirstChild());
  EXPECT_EQ("root", Name(document));
  EXPECT_EQ(XmlDocument::NO_SUCH_ELEMENT, document.MoveToParent())
      << "the document node is not an element";
  EXPECT_EQ(XmlDocument::NO_SUCH_ELEMENT, document.MoveToNextSibling());
  EXPECT_EQ("root", Name(document));

  ASSERT_EQ(XmlDocument::MOVED, document.MoveToFirstChild());
  EXPECT_EQ("only_text", Name(document));
  EXPECT_EQ(XmlDocument::NO_SUCH_ELEMENT, document.MoveToFirstChild())
      << "text and comment children are no elements";
  EXPECT_EQ("only_text", Name(document));
  std::string text;
  ASSERT_TRUE(document.GetText(&text));
  EXPECT_NE(std::string::npos, text.find("hello")) << text;
  EXPECT_NE(std::string::npos, text.find("world")) << text;

  ASSERT_EQ(XmlDocument::MOVED, document.MoveToNextSibling());
  EXPECT_EQ("second", Name(document));
  ASSERT_EQ(XmlDocument::MOVED, document.MoveToFirstChild());
  ASSERT_EQ(XmlDocument::MOVED, document.MoveToNextSibling());
  ASSERT_TRUE(document.GetText(&text));
  EXPECT_EQ("y", text);
  EXPECT_EQ(XmlDocument::NO_SUCH_ELEMENT, document.MoveToNextSibling());
  ASSERT_EQ(XmlDocument::MOVED, document.MoveToParent());
  ASSERT_EQ(XmlDocument::MOVED, document.MoveToParent());
  EXPECT_EQ("root", Name(document));
}

TEST_F(XmlDocumentTest, AttributesOfElementsOnly) {
  WriteText(kNavigationFile);
  XmlDocument document;
  ASSERT_TRUE(document.LoadFile(path_, nullptr));
  std::string value = "unchanged";
  EXPECT_FALSE(document.GetAttribute("a", &value)) << "the document node has none";
  ASSERT_EQ(XmlDocument::MOVED, document.MoveToFirstChild());
  ASSERT_TRUE(document.GetAttribute("b", &value));
  EXPECT_EQ("two", value);
  value = "unchanged";
  EXPECT_FALSE(document.GetAttribute("missing", &value));
  EXPECT_EQ("unchanged", value);
}

TEST_F(XmlDocumentTest, LoadFailuresExplainThemselves) {
  struct Case {
    const char* content;  // null: no file at all
  } cases[] = {{nullptr}, {"<root><unclosed></root>"}, {""}};
  for (const Case& c : cases) {
    base::DeleteFile(path_, false);
    if (c.content) WriteText(c.content);
    XmlDocument document;
    std::string error;
    EXPECT_FALSE(document.LoadFile(path_, &error));
    EXPECT_EQ(0u, error.find("Cannot load the document from file w/err ")) << error;
  }
}

TEST_F(XmlDocumentTest, BuiltTreeSerializesAndLoadsBack) {
  XmlDocument document;
  ASSERT_TRUE(document.Create(nullptr));
  ASSERT_TRUE(document.MoveToDocument());
  ASSERT_TRUE(document.AppendElement("root"));
  ASSERT_TRUE(document.SetAttribute("tabbed", "a\tb"));
  ASSERT_TRUE(document.SetAttribute("markup", "<&\">"));
  ASSERT_TRUE(document.AppendElement("child"));
  // Non-ASCII text must survive whole: Latin, CJK and a character outside the BMP.
  const std::string kText = "C:\\Program Files\\J\xC3\xBCrgen \xE6\xB5\x8F \xF0\x9F\x98\x80";
  ASSERT_TRUE(document.SetText(kText));
  ASSERT_TRUE(document.EndElement());
  ASSERT_TRUE(document.AppendElement("crlf"));
  ASSERT_TRUE(document.SetText("line1\r\nline2\tend"));
  ASSERT_TRUE(document.EndElement());
  EXPECT_FALSE(document.EndElement()) << "ending the root keeps the cursor on it";
  EXPECT_EQ("root", Name(document));
  ASSERT_TRUE(document.AppendElement("last"));

  std::string xml;
  ASSERT_TRUE(document.SaveToString(&xml));
  EXPECT_EQ(0u, xml.find("<?xml version=\"1.0\"?>\n<root")) << xml;
  EXPECT_EQ(std::string::npos, xml.find('\r')) << xml;
  EXPECT_EQ(std::string::npos, xml.find('\t')) << xml;
  EXPECT_EQ(std::string::npos, xml.find("<?xml", 1)) << "one prolog only: " << xml;
  EXPECT_EQ('\n', xml.back());

  WriteText(xml);
  XmlDocument loaded;
  std::string error;
  ASSERT_TRUE(loaded.LoadFile(path_, &error)) << error << "\n" << xml;
  ASSERT_EQ(XmlDocument::MOVED, loaded.MoveToFirstChild());
  std::string value;
  ASSERT_TRUE(loaded.GetAttribute("markup", &value));
  EXPECT_EQ("<&\">", value);
  ASSERT_EQ(XmlDocument::MOVED, loaded.MoveToFirstChild());
  EXPECT_EQ("child", Name(loaded));
  ASSERT_TRUE(loaded.GetText(&value));
  EXPECT_EQ(kText, value);
  ASSERT_EQ(XmlDocument::MOVED, loaded.MoveToNextSibling());
  ASSERT_EQ(XmlDocument::MOVED, loaded.MoveToNextSibling());
  EXPECT_EQ("last", Name(loaded));
}

TEST(FinishSerializedXmlTest, TextRules) {
  struct Case {
    const char* body;
    const char* expected;
  } cases[] = {
      {"<a/>", "<?xml version=\"1.0\"?>\n<a/>\n"},
      {"<a>\r\n\t<b/>\r\n</a>\r\n", "<?xml version=\"1.0\"?>\n<a>\n <b/>\n</a>\n\n"},
      // A declaration of the serializer's own gives way to the prolog.
      {"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a/>",
       "<?xml version=\"1.0\"?>\n<a/>\n"},
      {"", "<?xml version=\"1.0\"?>\n\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, FinishSerializedXml(c.body)) << c.body;
}

}  // namespace
}  // namespace installer
