// An MSXML 3.0 DOM document with a cursor on one of its nodes: load, walk element to
// element, read names, attributes and texts, build a tree under the cursor, serialize.
// Narrow texts are UTF-8. The calling thread must have initialized COM.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_DOCUMENT_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_DOCUMENT_H_

#include <windows.h>

#include <msxml2.h>
#include <wrl/client.h>

#include <string>

#include "base/files/file_path.h"
#include "base/strings/string_piece.h"
#include "desktop/windows/installer/service/com_object_factory.h"

// The MSXML 3.0 interface identifiers that the mingw headers do not attach.
__CRT_UUID_DECL(IXMLDOMDocument, 0x2933BF81, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F,
                0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMNode, 0x2933BF80, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98,
                0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMElement, 0x2933BF86, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F,
                0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IMXWriter, 0x4D7FF4BA, 0x1565, 0x4EA8, 0x94, 0xE1, 0x6E, 0x72, 0x4A, 0x46,
                0xF9, 0x8D)
__CRT_UUID_DECL(ISAXContentHandler, 0x1545CDFA, 0x9E4E, 0x4497, 0xA8, 0xA4, 0x2B, 0xF7,
                0xD0, 0x11, 0x2C, 0x44)
__CRT_UUID_DECL(ISAXErrorHandler, 0xA60511C4, 0xCCF5, 0x479E, 0x98, 0xA3, 0xDC, 0x8D, 0xC5,
                0x45, 0xB7, 0xD0)
__CRT_UUID_DECL(ISAXDTDHandler, 0xE15C1BAF, 0xAFB3, 0x4D60, 0x8C, 0x36, 0x19, 0xA8, 0xC4,
                0x5D, 0xEF, 0xED)
__CRT_UUID_DECL(ISAXXMLReader, 0xA4F96ED0, 0xF829, 0x476E, 0x81, 0xC0, 0xCD, 0xC7, 0xBD,
                0x2A, 0x08, 0x02)

namespace installer {

// The MSXML 3.0 classes, created in-process by class identifier.
extern const CLSID kClsidDomDocument30;
extern const CLSID kClsidMxXmlWriter30;
extern const CLSID kClsidSaxXmlReader30;

class XmlDocument {
 public:
  // Result of the navigation operations.
  enum MoveResult {
    MOVED = 0,            // the cursor is on the new element
    NO_SUCH_ELEMENT = 1,  // the cursor is unchanged
    XML_FAILURE = 2,      // the XML service failed; the cursor is unchanged
  };

  // |factory| creates the XML service's objects; tests pass fakes.
  explicit XmlDocument(ComObjectFactory factory = CreateSystemComObject);
  virtual ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Creates a new empty document (synchronous, no validation, no external references).
  // |error| may be null. The cursor is not set.
  bool Create(std::string* error);
  // Creates the document, loads |path| synchronously and puts the cursor on the
  // document node.
  bool LoadFile(const base::FilePath& path, std::string* error);
  // Puts the cursor on the document node.
  bool MoveToDocument();

  MoveResult MoveToFirstChild();
  MoveResult MoveToNextSibling();
  MoveResult MoveToParent();

  // The reading operations leave |out| unchanged when they fail.
  bool GetName(std::string* out) const;
  // The text of the cursor node and all its descendants.
  bool GetText(std::string* out) const;
  // False when the attribute is missing or the cursor is not an element.
  bool GetAttribute(base::StringPiece name, std::string* out) const;

  // Building. The first failure sticks: every later building step fails too, and the
  // document is not serialized, so that a tree missing an element (whose attributes
  // would land on its parent) is never written as if whole. Create clears it.
  //
  // Appends an element as the last child of the cursor and moves onto it.
  bool AppendElement(base::StringPiece name);
  // Moves to the parent when it is an element; otherwise stays and returns false (no
  // failure when the cursor is on the root element).
  bool EndElement();
  bool SetAttribute(base::StringPiece name, base::StringPiece value);
  bool SetText(base::StringPiece text);

  // The whole document as indented text: the prolog, no carriage returns, tabs as
  // spaces, a final line feed. |out| is unchanged on failure, and after a failed
  // building step.
  bool SaveToString(std::string* out) const;

 protected:
  // Where every new element joins the tree; tests refuse some.
  virtual HRESULT AppendChild(IXMLDOMNode* parent, IXMLDOMNode* child, IXMLDOMNode** appended);

 private:
  enum Direction { FIRST_CHILD, NEXT_SIBLING, PARENT };
  MoveResult Move(Direction direction);
  // Marks the building as failed; false.
  bool BuildingFailed();

  ComObjectFactory factory_;
  Microsoft::WRL::ComPtr<IXMLDOMDocument> document_;
  Microsoft::WRL::ComPtr<IXMLDOMNode> cursor_;
  bool building_failed_ = false;
};

// Applies the text rules of the serialized document to the serializer's |body|:
// prolog and line feed first, carriage returns removed, tabs as spaces, a final line
// feed. An XML declaration at the start of |body| is dropped so the prolog is the
// only one. Exposed for tests of the two serializer roads.
std::string FinishSerializedXml(base::StringPiece body);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_DOCUMENT_H_
