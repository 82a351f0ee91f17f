#include "kel/base/xml_document.h"

#include <typeinfo>

namespace kel {

// --- TKELXMLAttributes ----------------------------------------------------------------

TKELXMLAttribute* TKELXMLAttributes::Add() { return &items_.emplace_back(); }

TKELXMLAttribute* TKELXMLAttributes::Add(std::string_view name, std::string_view value) {
  return &items_.emplace_back(TKELXMLAttribute{std::string(name), std::string(value)});
}

void TKELXMLAttributes::Assign(const TKELXMLAttributes& source) {
  if (&source != this) items_ = source.items_;
}

TKELXMLAttribute* TKELXMLAttributes::ItemByIndex(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  return &items_[static_cast<size_t>(index)];
}

const TKELXMLAttribute* TKELXMLAttributes::ItemByIndex(int index) const {
  return const_cast<TKELXMLAttributes*>(this)->ItemByIndex(index);
}

bool TKELXMLAttributes::Find(std::string_view name, TKELXMLAttribute*& attribute) {
  for (TKELXMLAttribute& item : items_)
    if (kelSameTextAscii(item.Name, name)) {
      attribute = &item;
      return true;
    }
  attribute = nullptr;
  return false;
}

bool TKELXMLAttributes::Find(std::string_view name, const TKELXMLAttribute*& attribute) const {
  TKELXMLAttribute* found;
  const bool result = const_cast<TKELXMLAttributes*>(this)->Find(name, found);
  attribute = found;
  return result;
}

bool TKELXMLAttributes::GetValue(std::string_view name, std::string& value) const {
  const TKELXMLAttribute* attribute;
  if (Find(name, attribute)) {
    value = attribute->Value;
    return true;
  }
  value.clear();
  return false;
}

std::string TKELXMLAttributes::GetValue(std::string_view name) const {
  std::string value;
  GetValue(name, value);
  return value;
}

bool TKELXMLAttributes::Equals(const TKELXMLAttributes& other) const {
  if (Count() != other.Count()) return false;
  // Any attribute of the name may match, so that a list with names repeated
  // (possible in the binary forms) still equals its copy.
  for (const TKELXMLAttribute& item : items_) {
    bool found = false;
    for (const TKELXMLAttribute& candidate : other.items_)
      if (kelSameTextAscii(candidate.Name, item.Name) && candidate.Value == item.Value) {
        found = true;
        break;
      }
    if (!found) return false;
  }
  return true;
}

// --- TKELXMLNode ------------------------------------------------------------------------

TKELXMLNode::~TKELXMLNode() {
  if (parent_ != nullptr) parent_->Release(this).release();  // already being destroyed
  FreeChildren();
}

// Frees the subtree without recursion, so that any depth is safe.
void TKELXMLNode::FreeChildren() {
  std::vector<std::unique_ptr<TKELXMLNode>> pending;
  pending.swap(children_);
  while (!pending.empty()) {
    std::unique_ptr<TKELXMLNode> node = std::move(pending.back());
    pending.pop_back();
    node->parent_ = nullptr;
    for (auto& child : node->children_) pending.push_back(std::move(child));
    node->children_.clear();
  }
}

std::unique_ptr<TKELXMLNode> TKELXMLNode::Release(TKELXMLNode* child) {
  for (size_t i = children_.size(); i-- > 0;) {
    if (children_[i].get() != child) continue;
    std::unique_ptr<TKELXMLNode> owned = std::move(children_[i]);
    children_.erase(children_.begin() + static_cast<ptrdiff_t>(i));
    owned->parent_ = nullptr;
    return owned;
  }
  return nullptr;
}

TKELXMLNode* TKELXMLNode::AppendChild(std::unique_ptr<TKELXMLNode> child) {
  child->parent_ = this;
  if (children_.capacity() == 0) children_.reserve(4);  // most elements have few children
  children_.push_back(std::move(child));
  return children_.back().get();
}

TKELXMLNode* TKELXMLNode::Add(std::string_view name) { return AppendChild(std::make_unique<TKELXMLNode>(name)); }

void TKELXMLNode::Clear() { FreeChildren(); }

void TKELXMLNode::Assign(const TKELXMLNode& source) {
  // Copying from this node, from below it or from above it would read what
  // the copy is changing: copy from a detached duplicate instead.
  if (&source == this || IsChild(&source) || source.IsChild(this)) {
    TKELXMLNode duplicate;
    duplicate.Assign(source);
    Assign(duplicate);
    return;
  }
  std::vector<std::pair<const TKELXMLNode*, TKELXMLNode*>> pending{{&source, this}};
  while (!pending.empty()) {
    auto [from, to] = pending.back();
    pending.pop_back();
    to->Clear();
    to->Attributes.Assign(from->Attributes);
    for (const auto& child : from->children_) pending.emplace_back(child.get(), to->Add({}));
    to->NodeName = from->NodeName;
    to->NodeValue = from->NodeValue;
  }
}

bool TKELXMLNode::Equals(const TKELXMLNode& other) const {
  std::vector<std::pair<const TKELXMLNode*, const TKELXMLNode*>> pending{{this, &other}};
  while (!pending.empty()) {
    auto [a, b] = pending.back();
    pending.pop_back();
    if (typeid(*a) != typeid(*b) || a->NodeName != b->NodeName || a->NodeValue != b->NodeValue ||
        a->children_.size() != b->children_.size() || !a->Attributes.Equals(b->Attributes))
      return false;
    for (size_t i = 0; i < a->children_.size(); ++i) pending.emplace_back(a->children_[i].get(), b->children_[i].get());
  }
  return true;
}

TKELXMLNode* TKELXMLNode::Nodes(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return children_[static_cast<size_t>(index)].get();
}

TKELXMLNode* TKELXMLNode::FindNode(std::string_view name) const {
  for (const auto& child : children_)
    if (kelSameTextAscii(child->NodeName, name)) return child.get();
  return nullptr;
}

bool TKELXMLNode::FindNode(std::string_view name, TKELXMLNode*& node) const {
  node = FindNode(name);
  return node != nullptr;
}

bool TKELXMLNode::FindNode(const std::vector<std::string_view>& path, TKELXMLNode*& node, bool canCreate) {
  TKELXMLNode* current = this;
  for (std::string_view name : path) {
    TKELXMLNode* next = current->FindNode(name);
    if (next == nullptr) {
      if (!canCreate) {
        node = nullptr;
        return false;
      }
      next = current->Add(name);
    }
    current = next;
  }
  node = current;
  return true;
}

bool TKELXMLNode::IsChild(const TKELXMLNode* node) const {
  for (const TKELXMLNode* p = node != nullptr ? node->parent_ : nullptr; p != nullptr; p = p->parent_)
    if (p == this) return true;
  return false;
}

void TKELXMLNode::SetParent(TKELXMLNode* parent) {
  if (parent == this || parent == parent_ || (parent != nullptr && IsChild(parent))) return;
  std::unique_ptr<TKELXMLNode> self = parent_ != nullptr ? parent_->Release(this) : std::unique_ptr<TKELXMLNode>(this);
  if (parent != nullptr)
    parent->AppendChild(std::move(self));
  else
    self.release();  // the caller owns the detached node
}

// --- TKELXMLDocument --------------------------------------------------------------------

TKELXMLDocument::TKELXMLDocument(TKELStream& stream) { LoadFromStream(stream, nullptr); }

TKELXMLDocument::~TKELXMLDocument() { FreeChildren(); }

TKELXMLNode* TKELXMLDocument::Add(std::string_view name) {
  if (Count() > 0 && !AllowMultipleRoots) throw EKELXMLDocument("Only one Root available");
  return TKELXMLNode::Add(name);
}

}  // namespace kel
