#include "desktop/windows/installer/service/xml_document.h"

#include <oleauto.h>
#include <shlwapi.h>

#include <utility>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"

namespace installer {

const CLSID kClsidDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const CLSID kClsidMxXmlWriter30 = {
    0x3D813DFE, 0x6C91, 0x4A4E, {0x8F, 0x41, 0x04, 0x34, 0x6A, 0x84, 0x1D, 0x9C}};
const CLSID kClsidSaxXmlReader30 = {
    0x3124C396, 0xFB13, 0x4836, {0xA6, 0xAD, 0x13, 0x17, 0xF1, 0x71, 0x36, 0x88}};

namespace {

using Microsoft::WRL::ComPtr;

// Texts cross the XML service as UTF-16; ours are UTF-8.
std::wstring ToWide(base::StringPiece text) {
  return base::UTF8ToWide(text);
}

std::string ToUTF8(const wchar_t* text, size_t length) {
  return base::WideToUTF8(base::StringPiece16(text, length));
}

std::string BstrAsUTF8(BSTR text) {
  return ToUTF8(text, SysStringLen(text));
}

// A BSTR copy of UTF-8 text.
base::ScopedBstr ToBstr(base::StringPiece text) {
  return base::ScopedBstr(ToWide(text).c_str());
}

// The value as UTF-8 text, converted to a string first when it is not one.
[[nodiscard]] bool VariantAsUTF8(const VARIANT& value, std::string* out) {
  if (V_VT(&value) == VT_BSTR) {
    *out = BstrAsUTF8(V_BSTR(&value));
    return true;
  }
  base::ScopedVariant text;
  if (FAILED(VariantChangeType(text.Receive(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
    return false;
  *out = BstrAsUTF8(V_BSTR(&text.Get()));
  return true;
}

std::string HresultText(HRESULT hr) {
  return std::to_string(static_cast<long>(hr));
}

// The MXXMLWriter road: a SAX reader walks the DOM into the writer. Windows only: Wine
// answers put_output and parse with E_NOTIMPL.
[[nodiscard]] bool SerializeWithSaxWriter(const ComObjectFactory& factory,
                                          IXMLDOMDocument* document, std::string* body) {
  ComPtr<IMXWriter> writer;
  HRESULT hr = factory(kClsidMxXmlWriter30, CLSCTX_INPROC_SERVER, __uuidof(IMXWriter),
                       reinterpret_cast<void**>(writer.GetAddressOf()));
  if (FAILED(hr)) return false;
  ComPtr<ISAXContentHandler> content_handler;
  ComPtr<ISAXErrorHandler> error_handler;
  ComPtr<ISAXDTDHandler> dtd_handler;
  if (FAILED(writer->QueryInterface(__uuidof(ISAXContentHandler),
                                    reinterpret_cast<void**>(content_handler.GetAddressOf()))) ||
      FAILED(writer->QueryInterface(__uuidof(ISAXErrorHandler),
                                    reinterpret_cast<void**>(error_handler.GetAddressOf()))) ||
      FAILED(writer->QueryInterface(__uuidof(ISAXDTDHandler),
                                    reinterpret_cast<void**>(dtd_handler.GetAddressOf())))) {
    return false;
  }
  base::ScopedVariant empty_output(L"");
  if (FAILED(writer->put_byteOrderMark(VARIANT_FALSE)) ||
      FAILED(writer->put_omitXMLDeclaration(VARIANT_TRUE)) ||
      FAILED(writer->put_indent(VARIANT_TRUE)) ||
      FAILED(writer->put_output(empty_output.Get()))) {
    return false;
  }

  ComPtr<ISAXXMLReader> reader;
  hr = factory(kClsidSaxXmlReader30, CLSCTX_INPROC_SERVER, __uuidof(ISAXXMLReader),
               reinterpret_cast<void**>(reader.GetAddressOf()));
  if (FAILED(hr)) return false;
  base::ScopedVariant writer_value(writer.Get());
  if (FAILED(reader->putContentHandler(content_handler.Get())) ||
      FAILED(reader->putErrorHandler(error_handler.Get())) ||
      FAILED(reader->putDTDHandler(dtd_handler.Get())) ||
      FAILED(reader->putProperty(L"http://xml.org/sax/properties/lexical-handler",
                                 writer_value.Get())) ||
      FAILED(reader->putProperty(L"http://xml.org/sax/properties/declaration-handler",
                                 writer_value.Get()))) {
    return false;
  }
  base::ScopedVariant source(document);
  if (FAILED(reader->parse(source.Get()))) return false;

  base::ScopedVariant output;
  if (FAILED(writer->get_output(output.Receive()))) return false;
  return VariantAsUTF8(output.Get(), body);
}

// The DOM's own text of the document; used where the SAX writer is not available.
[[nodiscard]] bool SerializeWithDom(IXMLDOMDocument* document, std::string* body) {
  base::ScopedBstr xml;
  if (FAILED(document->get_xml(xml.Receive())) || !xml.Get()) return false;
  *body = BstrAsUTF8(xml.Get());
  return true;
}

// No document type definition, so no entity is expanded while a file is read (an
// elevated reader's input may be anyone's).
HRESULT ProhibitDtd(IXMLDOMDocument* document) {
  // IXMLDOMDocument2, whose id the headers declare without defining it.
  static const IID kIidDomDocument2 = {
      0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
  ComPtr<IXMLDOMDocument2> document2;
  HRESULT hr = document->QueryInterface(kIidDomDocument2,
                                        reinterpret_cast<void**>(document2.GetAddressOf()));
  if (FAILED(hr)) return hr;
  const base::ScopedBstr name(L"ProhibitDTD");
  VARIANT prohibit;
  VariantInit(&prohibit);
  prohibit.vt = VT_BOOL;
  prohibit.boolVal = VARIANT_TRUE;
  return document2->setProperty(name.Get(), prohibit);
}

}  // namespace

XmlDocument::XmlDocument(ComObjectFactory factory) : factory_(std::move(factory)) {}

XmlDocument::~XmlDocument() {
  // The cursor belongs to the document: release it first.
  cursor_.Reset();
  document_.Reset();
}

bool XmlDocument::Create(std::string* error) {
  cursor_.Reset();
  document_.Reset();
  building_failed_ = false;
  ComPtr<IXMLDOMDocument> document;
  HRESULT hr = factory_(kClsidDomDocument30, CLSCTX_INPROC_SERVER, __uuidof(IXMLDOMDocument),
                        reinterpret_cast<void**>(document.GetAddressOf()));
  const char* failure = nullptr;
  if (FAILED(hr)) {
    failure = "Cannot create DOM document instance w/err ";
  } else if (FAILED(hr = document->put_async(VARIANT_FALSE))) {
    failure = "Cannot put async ";
  } else if (FAILED(hr = document->put_validateOnParse(VARIANT_FALSE))) {
    failure = "Cannot put validateOnParse ";
  } else if (FAILED(hr = document->put_resolveExternals(VARIANT_FALSE))) {
    failure = "Cannot put resolveExternals";
  } else if (FAILED(hr = ProhibitDtd(document.Get()))) {
    failure = "Cannot prohibit document type definitions ";
  }
  if (failure) {
    if (error) *error = failure + HresultText(hr);
    return false;
  }
  document_ = std::move(document);
  return true;
}

bool XmlDocument::LoadFile(const base::FilePath& path, std::string* error) {
  if (!Create(error)) return false;
  // The file goes to the XML service as a stream: given the path as text, it reads it as
  // a URL, and a folder named like "a%20b" could not be loaded.
  ComPtr<IStream> stream;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = SHCreateStreamOnFileEx(path.value().c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                                      FILE_ATTRIBUTE_NORMAL, FALSE, nullptr,
                                      stream.GetAddressOf());
  if (SUCCEEDED(hr)) {
    base::ScopedVariant source(stream.Get());
    hr = document_->load(source.Get(), &loaded);
  }
  if (FAILED(hr) || loaded != VARIANT_TRUE) {
    if (error)
      *error = "Cannot load the document from file w/err " + std::to_string(GetLastError());
    return false;
  }
  // Where the service parses a DTD regardless (Wine ignores the property), the document
  // is still refused.
  ComPtr<IXMLDOMDocumentType> doctype;
  if (FAILED(document_->get_doctype(doctype.GetAddressOf())) || doctype) {
    document_.Reset();
    if (error) *error = "Cannot load the document from file: it declares a document type";
    return false;
  }
  if (!MoveToDocument()) {
    if (error) *error = "Cannot query the current node w/err " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

bool XmlDocument::MoveToDocument() {
  if (!document_) return false;
  ComPtr<IXMLDOMNode> node;
  if (FAILED(document_->QueryInterface(__uuidof(IXMLDOMNode),
                                       reinterpret_cast<void**>(node.GetAddressOf())))) {
    return false;
  }
  cursor_ = std::move(node);
  return true;
}

XmlDocument::MoveResult XmlDocument::MoveToFirstChild() {
  return Move(FIRST_CHILD);
}

XmlDocument::MoveResult XmlDocument::MoveToNextSibling() {
  return Move(NEXT_SIBLING);
}

XmlDocument::MoveResult XmlDocument::MoveToParent() {
  return Move(PARENT);
}

XmlDocument::MoveResult XmlDocument::Move(Direction direction) {
  if (!cursor_) return XML_FAILURE;
  ComPtr<IXMLDOMNode> node;
  HRESULT hr;
  switch (direction) {
    case FIRST_CHILD:
      hr = cursor_->get_firstChild(node.GetAddressOf());
      break;
    case NEXT_SIBLING:
      hr = cursor_->get_nextSibling(node.GetAddressOf());
      break;
    default:
      hr = cursor_->get_parentNode(node.GetAddressOf());
      break;
  }
  for (;;) {
    if (FAILED(hr)) return XML_FAILURE;
    // S_FALSE (with a null node) is the DOM's "there is none".
    if (hr == S_FALSE || !node) return NO_SUCH_ELEMENT;
    DOMNodeType type;
    if (FAILED(node->get_nodeType(&type))) return XML_FAILURE;
    if (type == NODE_ELEMENT) break;
    if (direction == PARENT) return NO_SUCH_ELEMENT;
    // Text, comments and processing instructions between elements are skipped.
    ComPtr<IXMLDOMNode> next;
    hr = node->get_nextSibling(next.GetAddressOf());
    node = std::move(next);
  }
  cursor_ = std::move(node);
  return MOVED;
}

bool XmlDocument::GetName(std::string* out) const {
  if (!cursor_) return false;
  base::ScopedBstr name;
  if (FAILED(cursor_->get_nodeName(name.Receive()))) return false;
  *out = BstrAsUTF8(name.Get());
  return true;
}

bool XmlDocument::GetText(std::string* out) const {
  if (!cursor_) return false;
  base::ScopedBstr text;
  if (FAILED(cursor_->get_text(text.Receive()))) return false;
  *out = BstrAsUTF8(text.Get());
  return true;
}

bool XmlDocument::GetAttribute(base::StringPiece name, std::string* out) const {
  if (!cursor_) return false;
  ComPtr<IXMLDOMElement> element;
  if (FAILED(cursor_.As(&element))) return false;
  base::ScopedBstr attribute_name = ToBstr(name);
  base::ScopedVariant value;
  HRESULT hr = element->getAttribute(attribute_name.Get(), value.Receive());
  // S_FALSE (a null value) is the DOM's "no such attribute".
  if (hr != S_OK || V_VT(&value.Get()) == VT_NULL || V_VT(&value.Get()) == VT_EMPTY)
    return false;
  return VariantAsUTF8(value.Get(), out);
}

bool XmlDocument::AppendElement(base::StringPiece name) {
  if (building_failed_ || !document_ || !cursor_) return BuildingFailed();
  base::ScopedBstr element_name = ToBstr(name);
  ComPtr<IXMLDOMElement> element;
  if (FAILED(document_->createElement(element_name.Get(), element.GetAddressOf())))
    return BuildingFailed();
  ComPtr<IXMLDOMNode> appended;
  if (FAILED(AppendChild(cursor_.Get(), element.Get(), appended.GetAddressOf())) || !appended)
    return BuildingFailed();
  cursor_ = std::move(appended);
  return true;
}

HRESULT XmlDocument::AppendChild(IXMLDOMNode* parent, IXMLDOMNode* child,
                                 IXMLDOMNode** appended) {
  return parent->appendChild(child, appended);
}

bool XmlDocument::EndElement() {
  if (building_failed_ || !cursor_) return BuildingFailed();
  ComPtr<IXMLDOMNode> parent;
  HRESULT hr = cursor_->get_parentNode(parent.GetAddressOf());
  if (FAILED(hr)) return BuildingFailed();
  DOMNodeType type;
  if (hr != S_OK || !parent) return false;
  if (FAILED(parent->get_nodeType(&type))) return BuildingFailed();
  // Ending the root element is no failure: the cursor stays on it.
  if (type != NODE_ELEMENT) return false;
  cursor_ = std::move(parent);
  return true;
}

bool XmlDocument::SetAttribute(base::StringPiece name, base::StringPiece value) {
  if (building_failed_ || !cursor_) return BuildingFailed();
  ComPtr<IXMLDOMElement> element;
  if (FAILED(cursor_.As(&element))) return BuildingFailed();
  base::ScopedBstr attribute_name = ToBstr(name);
  base::ScopedVariant attribute_value(ToWide(value).c_str());
  if (FAILED(element->setAttribute(attribute_name.Get(), attribute_value.Get())))
    return BuildingFailed();
  return true;
}

bool XmlDocument::SetText(base::StringPiece text) {
  if (building_failed_ || !cursor_) return BuildingFailed();
  base::ScopedBstr content = ToBstr(text);
  if (FAILED(cursor_->put_text(content.Get()))) return BuildingFailed();
  return true;
}

bool XmlDocument::BuildingFailed() {
  building_failed_ = true;
  return false;
}

bool XmlDocument::SaveToString(std::string* out) const {
  if (!document_) return false;
  if (building_failed_) {
    LOG(ERROR) << "Not serializing a document that could not be built whole";
    return false;
  }
  std::string body;
  if (!SerializeWithSaxWriter(factory_, document_.Get(), &body)) {
    VLOG(1) << "The SAX writer is not available; serializing through the DOM";
    if (!SerializeWithDom(document_.Get(), &body)) return false;
  }
  *out = FinishSerializedXml(body);
  return true;
}

std::string FinishSerializedXml(base::StringPiece body) {
  // The DOM's own text may begin with a declaration of its own; ours replaces it.
  if (body.starts_with("<?xml ") || body.starts_with("<?xml\t")) {
    size_t end = body.find(base::StringPiece("?>"));
    if (end != base::StringPiece::npos) {
      body.remove_prefix(end + 2);
      while (!body.empty() && (body[0] == '\r' || body[0] == '\n')) body.remove_prefix(1);
    }
  }
  std::string text = "<?xml version=\"1.0\"?>\n";
  text.reserve(text.size() + body.size() + 1);
  for (char c : body) {
    if (c == '\r') continue;
    text.push_back(c == '\t' ? ' ' : c);
  }
  text.push_back('\n');
  return text;
}

}  // namespace installer
