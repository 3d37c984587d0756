#include "desktop/windows/installer/service/xml_document.h"

#include <windows.h>

#include <map>
#include <string>

#include <wrl/client.h>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/service/fake_com_object_test_util.h"
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
  std::string value = "unchanged";
  EXPECT_FALSE(document.GetAttribute("a", &value)) << "the document node has none";

  ASSERT_EQ(XmlDocument::MOVED, document.MoveToFirstChild());
  EXPECT_EQ("root", Name(document));
  ASSERT_TRUE(document.GetAttribute("b", &value));
  EXPECT_EQ("two", value);
  EXPECT_FALSE(document.GetAttribute("missing", &value));
  EXPECT_EQ("two", value);
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

TEST_F(XmlDocumentTest, LoadFailuresExplainThemselves) {
  struct Case {
    const char* content;  // null: no file at all
  } cases[] = {{nullptr}, {"<root><unclosed></root>"}, {""}};
  for (const Case& c : cases) {
    EXPECT_TRUE(base::DeleteFile(path_, false));
    if (c.content) WriteText(c.content);
    XmlDocument document;
    std::string error;
    EXPECT_FALSE(document.LoadFile(path_, &error));
    EXPECT_EQ(0u, error.find("Cannot load the document from file w/err ")) << error;
  }
}

// A document type definition is never read: its entities would be expanded (a record
// that names a folder through one, or a billion laughs).
TEST_F(XmlDocumentTest, DocumentTypeDefinitionsAreRefused) {
  const char* const documents[] = {
      "<?xml version=\"1.0\"?>\n<!DOCTYPE install_log [<!ENTITY p \"C:\\velum\">]>\n"
      "<install_log><path>&p;</path></install_log>\n",
      "<!DOCTYPE r [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><r>&c;</r>",
      "<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/r.dtd\"><r/>",
  };
  for (const char* text : documents) {
    WriteText(text);
    XmlDocument document;
    std::string error;
    EXPECT_FALSE(document.LoadFile(path_, &error)) << text;
    EXPECT_EQ(0u, error.find("Cannot load the document from file")) << error;
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

// The SAX writer road runs only on Windows (Wine answers put_output and parse with
// E_NOTIMPL); fakes of the writer and the reader check how it is wired up.
class FakeWriter : public testing::FakeDispatch<IMXWriter>,
                   public ISAXContentHandler,
                   public ISAXErrorHandler,
                   public ISAXDTDHandler {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return FakeDispatch<IMXWriter>::QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return FakeDispatch<IMXWriter>::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return FakeDispatch<IMXWriter>::Release(); }

  HRESULT STDMETHODCALLTYPE put_output(VARIANT output) override {
    output_set = V_VT(&output) == VT_BSTR && SysStringLen(V_BSTR(&output)) == 0;
    return put_output_result;
  }
  HRESULT STDMETHODCALLTYPE get_output(VARIANT* output) override {
    VariantInit(output);
    if (output_is_number) {
      V_VT(output) = VT_I4;
      V_I4(output) = 12;
    } else {
      V_VT(output) = VT_BSTR;
      V_BSTR(output) = SysAllocString(document_started ? canned_output : L"");
    }
    return S_OK;
  }
  FAKE_TEXT_PROPERTY(encoding)
  FAKE_NUMBER_PROPERTY(byteOrderMark, VARIANT_BOOL)
  FAKE_NUMBER_PROPERTY(indent, VARIANT_BOOL)
  FAKE_NUMBER_PROPERTY(standalone, VARIANT_BOOL)
  FAKE_NUMBER_PROPERTY(omitXMLDeclaration, VARIANT_BOOL)
  FAKE_TEXT_PROPERTY(version)
  FAKE_NUMBER_PROPERTY(disableOutputEscaping, VARIANT_BOOL)
  FAKE_METHOD_RETURNS(S_OK, flush)

  FAKE_METHOD_RETURNS(S_OK, putDocumentLocator, ISAXLocator*)
  HRESULT STDMETHODCALLTYPE startDocument() override {
    document_started = true;
    return S_OK;
  }
  FAKE_METHOD_RETURNS(S_OK, endDocument)
  FAKE_METHOD_RETURNS(S_OK, startPrefixMapping, const wchar_t*, int, const wchar_t*, int)
  FAKE_METHOD_RETURNS(S_OK, endPrefixMapping, const wchar_t*, int)
  FAKE_METHOD_RETURNS(S_OK, startElement, const wchar_t*, int, const wchar_t*, int, const wchar_t*,
      int, ISAXAttributes*)
  FAKE_METHOD_RETURNS(S_OK, endElement, const wchar_t*, int, const wchar_t*, int, const wchar_t*,
      int)
  FAKE_METHOD_RETURNS(S_OK, characters, const wchar_t*, int)
  FAKE_METHOD_RETURNS(S_OK, ignorableWhitespace, const wchar_t*, int)
  FAKE_METHOD_RETURNS(S_OK, processingInstruction, const wchar_t*, int, const wchar_t*, int)
  FAKE_METHOD_RETURNS(S_OK, skippedEntity, const wchar_t*, int)
  FAKE_METHOD_RETURNS(S_OK, error, ISAXLocator*, const wchar_t*, HRESULT)
  FAKE_METHOD_RETURNS(S_OK, fatalError, ISAXLocator*, const wchar_t*, HRESULT)
  FAKE_METHOD_RETURNS(S_OK, ignorableWarning, ISAXLocator*, const wchar_t*, HRESULT)
  FAKE_METHOD_RETURNS(S_OK, notationDecl, const wchar_t*, int, const wchar_t*, int, const wchar_t*,
      int)
  FAKE_METHOD_RETURNS(S_OK, unparsedEntityDecl, const wchar_t*, int, const wchar_t*, int,
      const wchar_t*, int, const wchar_t*, int)

  HRESULT put_output_result = S_OK;
  bool output_is_number = false;
  const wchar_t* canned_output = L"";
  bool output_set = false;
  bool document_started = false;

 protected:
  void* QueryOther(REFIID iid) override {
    if (IsEqualIID(iid, __uuidof(ISAXContentHandler)))
      return static_cast<ISAXContentHandler*>(this);
    if (IsEqualIID(iid, __uuidof(ISAXErrorHandler))) return static_cast<ISAXErrorHandler*>(this);
    if (IsEqualIID(iid, __uuidof(ISAXDTDHandler))) return static_cast<ISAXDTDHandler*>(this);
    return nullptr;
  }
};

// The identity of a COM object, for comparisons.
Microsoft::WRL::ComPtr<IUnknown> Identity(IUnknown* object) {
  Microsoft::WRL::ComPtr<IUnknown> unknown;
  if (object)
    object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.GetAddressOf()));
  return unknown;
}

class FakeReader : public testing::FakeUnknown<ISAXXMLReader> {
 public:
  FAKE_NOT_IMPLEMENTED(getFeature, const wchar_t*, VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(putFeature, const wchar_t*, VARIANT_BOOL)
  FAKE_NOT_IMPLEMENTED(getProperty, const wchar_t*, VARIANT*)
  HRESULT STDMETHODCALLTYPE putProperty(const wchar_t* name, VARIANT value) override {
    if (V_VT(&value) == VT_UNKNOWN) unknown_properties[name] = Identity(V_UNKNOWN(&value));
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(getEntityResolver, ISAXEntityResolver**)
  FAKE_NOT_IMPLEMENTED(putEntityResolver, ISAXEntityResolver*)
  FAKE_NOT_IMPLEMENTED(getContentHandler, ISAXContentHandler**)
  HRESULT STDMETHODCALLTYPE putContentHandler(ISAXContentHandler* handler) override {
    content_handler = handler;
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(getDTDHandler, ISAXDTDHandler**)
  HRESULT STDMETHODCALLTYPE putDTDHandler(ISAXDTDHandler* handler) override {
    dtd_handler = Identity(handler);
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(getErrorHandler, ISAXErrorHandler**)
  HRESULT STDMETHODCALLTYPE putErrorHandler(ISAXErrorHandler* handler) override {
    error_handler = Identity(handler);
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(getBaseURL, const wchar_t**)
  FAKE_NOT_IMPLEMENTED(putBaseURL, const wchar_t*)
  FAKE_NOT_IMPLEMENTED(getSecureBaseURL, const wchar_t**)
  FAKE_NOT_IMPLEMENTED(putSecureBaseURL, const wchar_t*)
  HRESULT STDMETHODCALLTYPE parse(VARIANT input) override {
    if (V_VT(&input) == VT_UNKNOWN) parsed = Identity(V_UNKNOWN(&input));
    // The walk of the tree, reduced to its start.
    if (content_handler) content_handler->startDocument();
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(parseURL, const wchar_t*)

  Microsoft::WRL::ComPtr<ISAXContentHandler> content_handler;
  Microsoft::WRL::ComPtr<IUnknown> error_handler;
  Microsoft::WRL::ComPtr<IUnknown> dtd_handler;
  std::map<std::wstring, Microsoft::WRL::ComPtr<IUnknown>> unknown_properties;
  Microsoft::WRL::ComPtr<IUnknown> parsed;
};

class XmlSaxWriterTest : public XmlFileTest {
 protected:
  void SetUp() override {
    XmlFileTest::SetUp();
    writer_.Attach(new FakeWriter);
    reader_.Attach(new FakeReader);
  }
  void TearDown() override {
    writer_.Reset();
    reader_.Reset();
    XmlFileTest::TearDown();
  }

  // The real DOM, the fake writer and reader.
  ComObjectFactory Factory() {
    return [this](REFCLSID clsid, DWORD context, REFIID iid, void** object) -> HRESULT {
      if (IsEqualCLSID(clsid, kClsidMxXmlWriter30))
        return writer_->QueryInterface(iid, object);
      if (IsEqualCLSID(clsid, kClsidSaxXmlReader30))
        return reader_->QueryInterface(iid, object);
      return CreateSystemComObject(clsid, context, iid, object);
    };
  }

  // A small tree, serialized.
  bool Save(XmlDocument* document, std::string* text) {
    return document->Create(nullptr) && document->MoveToDocument() &&
           document->AppendElement("root") && document->AppendElement("child") &&
           document->SaveToString(text);
  }

  Microsoft::WRL::ComPtr<FakeWriter> writer_;
  Microsoft::WRL::ComPtr<FakeReader> reader_;
};

TEST_F(XmlSaxWriterTest, WriterRoadIsWiredAndFollowsTheTextRules) {
  writer_->canned_output = L"<root>\r\n\t<child/>\r\n</root>\r\n";
  XmlDocument document(Factory());
  std::string text;
  ASSERT_TRUE(Save(&document, &text));
  EXPECT_EQ("<?xml version=\"1.0\"?>\n<root>\n <child/>\n</root>\n\n", text);

  testing::FakePropertyBag& settings = writer_->properties();
  EXPECT_EQ(VARIANT_FALSE, settings.Number("byteOrderMark"));
  EXPECT_EQ(VARIANT_TRUE, settings.Number("omitXMLDeclaration"));
  EXPECT_EQ(VARIANT_TRUE, settings.Number("indent"));
  EXPECT_TRUE(writer_->output_set) << "the output is collected in a string";

  auto writer = Identity(static_cast<IMXWriter*>(writer_.Get()));
  EXPECT_EQ(writer, Identity(reader_->content_handler.Get()));
  EXPECT_EQ(writer, reader_->error_handler);
  EXPECT_EQ(writer, reader_->dtd_handler);
  EXPECT_EQ(writer, reader_->unknown_properties[L"http://xml.org/sax/properties/lexical-handler"]);
  EXPECT_EQ(writer,
            reader_->unknown_properties[L"http://xml.org/sax/properties/declaration-handler"]);
  ASSERT_TRUE(reader_->parsed) << "the reader walks the document";
  Microsoft::WRL::ComPtr<IXMLDOMDocument> parsed;
  EXPECT_TRUE(SUCCEEDED(reader_->parsed.As(&parsed)));
}

TEST_F(XmlSaxWriterTest, OutputOfAnotherTypeIsConvertedToText) {
  writer_->output_is_number = true;
  XmlDocument document(Factory());
  std::string text;
  ASSERT_TRUE(Save(&document, &text));
  EXPECT_EQ("<?xml version=\"1.0\"?>\n12\n", text);
}

TEST_F(XmlSaxWriterTest, WithoutAWorkingWriterTheDomGivesTheText) {
  writer_->put_output_result = E_NOTIMPL;  // as under Wine
  XmlDocument faked(Factory());
  std::string text;
  ASSERT_TRUE(Save(&faked, &text));
  XmlDocument real;
  std::string dom_text;
  ASSERT_TRUE(Save(&real, &dom_text));
  EXPECT_EQ(dom_text, text);
  EXPECT_NE(std::string::npos, text.find("<child/>")) << text;
}

}  // namespace
}  // namespace installer
