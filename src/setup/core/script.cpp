#include "setup/core/script.h"

#include "kel/base/file_system.h"
#include "kel/base/text.h"
#include "kel/base/xml_document.h"

namespace setup {

std::string TSetupScriptFile::SourceName() const {
  if (!Text.empty()) return Text;
  return kel::kelExtractFileName(Name);
}

bool TSetupScriptFile::MatchesFamily(std::string_view family) const {
  return LangFamily.empty() || kel::kelSameText(LangFamily, family);
}

bool TSetupScriptGroup::FindByFamily(std::string_view family, const TSetupScriptFile*& item) const {
  for (const TSetupScriptFile& candidate : items_) {
    if (candidate.MatchesFamily(family)) {
      item = &candidate;
      return true;
    }
  }
  return false;
}

void TSetupScript::LoadGroup(const kel::TKELXMLNode& element, TSetupScriptGroup& group) {
  for (int i = 0; i < element.Count(); ++i) {
    const kel::TKELXMLNode& child = *element.Nodes(i);
    if (!kel::kelSameTextAscii(child.NodeName, "File")) continue;
    group.Add({child.Attributes.GetValue("name"), child.NodeValue, child.Attributes.GetValue("lang-family")});
  }
  if (element.Count() == 0 && !element.NodeValue.empty()) group.Add({element.NodeValue, {}, {}});
}

void TSetupScript::Load(kel::TKELStream& stream) {
  kel::TKELXMLDocument document(stream);
  if (document.Count() == 0) return;
  const kel::TKELXMLNode& root = *document.Nodes(0);

  if (const kel::TKELXMLNode* setupNode = root.FindNode("setup")) {
    if (const kel::TKELXMLNode* license = setupNode->FindNode("license")) LoadGroup(*license, License);
  }
  const kel::TKELXMLNode* product = root.FindNode("product");
  if (!product) return;
  for (int i = 0; i < product->Count(); ++i) {
    const kel::TKELXMLNode& child = *product->Nodes(i);
    if (kel::kelSameText(child.NodeName, "Components")) {
      LoadGroup(child, Components);
    } else if (kel::kelSameText(child.NodeName, "Actions")) {
      LoadGroup(child, Actions);
    } else if (kel::kelSameText(child.NodeName, "Shortcuts")) {
      LoadGroup(child, Shortcuts);
    } else if (kel::kelSameText(child.NodeName, "Settings")) {
      for (int j = 0; j < child.Count(); ++j) {
        const kel::TKELXMLNode& property = *child.Nodes(j);
        Properties.Add(property.Attributes.GetValue("name") + "=" + property.Attributes.GetValue("value"));
      }
    }
  }
}

std::string TSetupScript::GetProperty(std::string_view name) const {
  for (int i = Properties.Count() - 1; i >= 0; --i) {
    const std::string& line = Properties[i];
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (kel::kelSameText(std::string_view(line).substr(0, equals), name)) return line.substr(equals + 1);
  }
  return {};
}

}  // namespace setup
