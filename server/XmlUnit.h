// XmlUnit: the small XML reader every request handler uses.
//
// TXmlDocument loads 8-bit text (code page 936; never transcoded) into a tree of
// TXmlNode. The handlers read the root element's attribute "type" and the values
// of the root's children by position. Loading fails with XmlParseError and one
// of six messages. A document is used by one thread; the reader keeps no
// mutable global state.
#ifndef VELIO_SERVER_XMLUNIT_H_
#define VELIO_SERVER_XMLUNIT_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/CodePageUnit.h"
#include "platform/ErrorsUnit.h"

class XmlParseError : public EVelioError {
 public:
  using EVelioError::EVelioError;
};

enum class TXmlNodeKind : uint8_t {
  Element = 0,
  Comment = 1,
  CData = 2,
  Declaration = 3,
  Stylesheet = 4,
  DocType = 5,
  ElementDecl = 6,
  AttListDecl = 7,
  EntityDecl = 8,
  NotationDecl = 9,
  Special = 10,
  Instruction = 11,
  Text = 12,
};

class TXmlDocument;

class TXmlNode {
 public:
  // Frees the node and its whole subtree, without recursion.
  ~TXmlNode();
  TXmlNode(const TXmlNode&) = delete;
  TXmlNode& operator=(const TXmlNode&) = delete;

  // The decoded value of the first attribute whose name equals name without
  // letter case (code-page aware); empty text when there is none.
  AnsiString AttributeText(const AnsiString& name) const;
  int32_t ChildCount() const;
  // The child at a 0-based position; null when index is negative or too large.
  TXmlNode* ChildAt(int32_t index) const;
  // The value, entity-decoded, not trimmed.
  AnsiString ValueText() const;
  // The raw value as an integer; raises EConvertError "'%s' is not a valid
  // integer value" when it is not one.
  int32_t ValueInteger() const;
  // The raw value as an integer, or def.
  int32_t ValueIntegerOr(int32_t def) const;

  TXmlNodeKind Kind() const { return kind_; }
  const AnsiString& Name() const { return name_; }
  const AnsiString& Value() const { return value_; }  // raw, before entity decoding
  const std::vector<AnsiString>& Attributes() const { return attributes_; }
  TXmlNode* Parent() const { return parent_; }
  TXmlDocument* Document() const { return document_; }

 private:
  friend class TXmlDocument;
  friend class TXmlReader;
  explicit TXmlNode(TXmlDocument* document) : document_(document) {}

  std::vector<AnsiString> attributes_;
  TXmlDocument* document_;
  TXmlNodeKind kind_ = TXmlNodeKind::Element;
  AnsiString name_;
  std::vector<std::unique_ptr<TXmlNode>> children_;
  TXmlNode* parent_ = nullptr;
  AnsiString value_;
};

class TXmlDocument {
 public:
  // A new document: an XML declaration (version "1.0", encoding
  // "windows-1252") followed by one empty element without a name.
  TXmlDocument();
  ~TXmlDocument();
  TXmlDocument(const TXmlDocument&) = delete;
  TXmlDocument& operator=(const TXmlDocument&) = delete;

  // Replaces all content with the document in text. Raises XmlParseError.
  void LoadFromText(const AnsiString& text);

  // The first top-level element, or null.
  TXmlNode* RootElement() const;

  int32_t NodeCount() const { return static_cast<int32_t>(nodes_.size()); }
  TXmlNode* NodeAt(int32_t index) const;

 private:
  friend class TXmlReader;
  std::vector<std::unique_ptr<TXmlNode>> nodes_;
};

#endif  // VELIO_SERVER_XMLUNIT_H_
