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

namespace installer {

class XmlDocument {
 public:
  // Result of the navigation operations.
  enum MoveResult {
    MOVED = 0,            // the cursor is on the new element
    NO_SUCH_ELEMENT = 1,  // the cursor is unchanged
    XML_FAILURE = 2,      // the XML service failed; the cursor is unchanged
  };

  XmlDocument();
  ~XmlDocument();
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

  // Appends an element as the last child of the cursor and moves onto it.
  bool AppendElement(base::StringPiece name);
  // Moves to the parent when it is an element; otherwise stays and returns false.
  bool EndElement();
  bool SetAttribute(base::StringPiece name, base::StringPiece value);
  bool SetText(base::StringPiece text);

  // The whole document as indented text: the prolog, no carriage returns, tabs as
  // spaces, a final line feed. |out| is unchanged on failure.
  bool SaveToString(std::string* out) const;

 private:
  enum Direction { FIRST_CHILD, NEXT_SIBLING, PARENT };
  MoveResult Move(Direction direction);

  Microsoft::WRL::ComPtr<IXMLDOMDocument> document_;
  Microsoft::WRL::ComPtr<IXMLDOMNode> cursor_;
};

// Applies the text rules of the serialized document to the serializer's |body|:
// prolog and line feed first, carriage returns removed, tabs as spaces, a final line
// feed. An XML declaration at the start of |body| is dropped so the prolog is the
// only one. Exposed for tests of the two serializer roads.
std::string FinishSerializedXml(base::StringPiece body);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_DOCUMENT_H_
