// A small in-memory XML tree: a document whose children are element nodes,
// each with a name, one text value, an ordered attribute list and ordered
// children. Comments, processing instructions, namespaces and mixed content
// are not kept; an element's text is one string.
//
// A document is loaded from XML text, from its binary form ("SXML") or from
// the legacy binary form ("BXML"), chosen by the first four bytes, and saved
// in the binary form or as XML text. Names are looked up with an ASCII-only
// case-insensitive comparison ("Name" finds "NAME", "Ä" does not find "ä");
// a missing attribute reads as the empty string.
//
// Loading XML text never reports syntax errors: the document keeps every node
// read before the error. Only the errors of the reader's start (an encoding
// that cannot be recognised or decoded) leave `LoadFromStream`. The binary
// forms raise the stream's read error when they end early and
// EKELXMLDocument when they are inconsistent.
//
// Ownership: a node owns its children and its attributes. Deleting a node
// first detaches it from its parent. A node whose parent is set to nullptr
// belongs to the caller; a node without a parent that is given one belongs
// to that parent from then on (so it must have been created with new).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/error.h"
#include "kel/base/stream.h"
#include "kel/base/text.h"

namespace kel {

// The one error of the document ("Only one Root available", ...).
class EKELXMLDocument : public Exception { using Exception::Exception; };

class TKELXMLAttribute {
 public:
  std::string Name;
  std::string Value;

  void Assign(const TKELXMLAttribute& source) {
    Name = source.Name;
    Value = source.Value;
  }
};

// An ordered list of attributes in insertion order; duplicates are allowed.
// The list holds its attributes by value: a pointer to one stays valid until
// the list next grows or is cleared.
class TKELXMLAttributes {
 public:
  TKELXMLAttributes() = default;
  TKELXMLAttributes(const TKELXMLAttributes&) = delete;
  TKELXMLAttributes& operator=(const TKELXMLAttributes&) = delete;

  TKELXMLAttribute* Add();
  TKELXMLAttribute* Add(std::string_view name, std::string_view value);
  // Replaces the list with copies of the source's attributes.
  void Assign(const TKELXMLAttributes& source);
  void Clear() { items_.clear(); }
  // Makes room for that many attributes in all.
  void Reserve(int count) { items_.reserve(static_cast<size_t>(count)); }
  int Count() const { return static_cast<int>(items_.size()); }
  // nullptr when the index is out of range.
  TKELXMLAttribute* ItemByIndex(int index);
  const TKELXMLAttribute* ItemByIndex(int index) const;
  // The first attribute whose name matches (ASCII letters ignoring case).
  bool Find(std::string_view name, TKELXMLAttribute*& attribute);
  bool Find(std::string_view name, const TKELXMLAttribute*& attribute) const;
  // The value of the first match; "" and false when there is none.
  bool GetValue(std::string_view name, std::string& value) const;
  std::string GetValue(std::string_view name) const;
  // Same count, and every attribute of this list has a counterpart in the
  // other: same name ignoring ASCII case, equal value; order aside.
  bool Equals(const TKELXMLAttributes& other) const;

 private:
  std::vector<TKELXMLAttribute> items_;
};

class TKELXMLNode {
 public:
  explicit TKELXMLNode(std::string_view name = {}) : NodeName(name) {}
  // Detaches the node from its parent, then frees its subtree.
  virtual ~TKELXMLNode();
  TKELXMLNode(const TKELXMLNode&) = delete;
  TKELXMLNode& operator=(const TKELXMLNode&) = delete;

  std::string NodeName;
  std::string NodeValue;
  TKELXMLAttributes Attributes;

  // Appends a child of that name and returns it.
  virtual TKELXMLNode* Add(std::string_view name);
  // A deep copy of the source: attributes, children, name and value.
  virtual void Assign(const TKELXMLNode& source);
  // Frees the children; name, value and attributes stay.
  virtual void Clear();
  // Same class, equal attribute lists, names and values (case-sensitive),
  // and equal children in the same order.
  virtual bool Equals(const TKELXMLNode& other) const;

  int Count() const { return static_cast<int>(children_.size()); }
  // nullptr when the index is out of range.
  TKELXMLNode* Nodes(int index) const;
  // The first child whose name matches (ASCII letters ignoring case).
  TKELXMLNode* FindNode(std::string_view name) const;
  bool FindNode(std::string_view name, TKELXMLNode*& node) const;
  // Walks the path one child per name; a missing step is added when
  // `canCreate`, else the walk ends with nullptr and false.
  bool FindNode(const std::vector<std::string_view>& path, TKELXMLNode*& node, bool canCreate);
  // True when the node lies anywhere below this one.
  bool IsChild(const TKELXMLNode* node) const;

  TKELXMLNode* Parent() const { return parent_; }
  // Moves the node to the end of the new parent's children. Refused when the
  // new parent is this node, its current parent or one of its descendants.
  // With nullptr the node is detached and the caller owns it.
  void SetParent(TKELXMLNode* parent);

 protected:
  TKELXMLNode* AppendChild(std::unique_ptr<TKELXMLNode> child);

 private:
  friend class TKELXMLDocument;
  std::unique_ptr<TKELXMLNode> Release(TKELXMLNode* child);
  void FreeChildren();

  TKELXMLNode* parent_ = nullptr;
  std::vector<std::unique_ptr<TKELXMLNode>> children_;
};

// Bytes of the format settings: [0] unused, [1] NewLineOnAttributes,
// [2] Indent (both text form only), [3] the form: 0 binary, 1 text.
struct TKELXMLDocumentFormatSettings {
  uint8_t Reserved = 0;
  bool NewLineOnAttributes = false;
  bool Indent = false;
  uint8_t Format = 0;
};

inline constexpr uint8_t kelXMLFormatBinary = 0;
inline constexpr uint8_t kelXMLFormatText = 1;

class TKELXMLDocument : public TKELXMLNode {
 public:
  TKELXMLDocument() = default;
  // Loads the stream with no default encoding.
  explicit TKELXMLDocument(TKELStream& stream);
  ~TKELXMLDocument() override;

  // Several top-level elements may be added (and read as a fragment).
  bool AllowMultipleRoots = false;

  // Raises EKELXMLDocument "Only one Root available" when a top-level node
  // exists and several are not allowed.
  TKELXMLNode* Add(std::string_view name) override;
  // Reads from the stream's position; `encoding` replaces the detection of
  // the text's encoding when given.
  virtual void LoadFromStream(TKELStream& stream, const TKELEncoding* encoding = nullptr);
  // Writes the top-level nodes in the form the settings choose; any other
  // form than 0 or 1 raises EKELXMLDocument.
  virtual void SaveToStream(TKELStream& stream, const TKELXMLDocumentFormatSettings& settings = {});
};

// The serialisers behind SaveToStream.
class TKELXMLBuilder {
 public:
  explicit TKELXMLBuilder(TKELStream& stream) : stream_(stream) {}
  virtual ~TKELXMLBuilder() = default;
  virtual void Build(const TKELXMLDocument& document, const TKELXMLDocumentFormatSettings& settings) = 0;

 protected:
  TKELStream& stream_;
};

// "SXML": the tree block, then the name table. Names are stored in the
// system's ANSI code page, which on Linux is the locale's charset
// (`TKELEncoding::Ansi`, UTF-8 on current systems; name bytes that are not
// valid in it are read as Windows-1252).
class TKELBinaryXMLBuilder : public TKELXMLBuilder {
 public:
  using TKELXMLBuilder::TKELXMLBuilder;
  void Build(const TKELXMLDocument& document, const TKELXMLDocumentFormatSettings& settings) override;
};

// XML text in UTF-8 with a declaration and CR LF line breaks.
class TKELTextXMLBuilder : public TKELXMLBuilder {
 public:
  using TKELXMLBuilder::TKELXMLBuilder;
  void Build(const TKELXMLDocument& document, const TKELXMLDocumentFormatSettings& settings) override;
};

}  // namespace kel
