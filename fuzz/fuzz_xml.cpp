// Fuzz target for the XML reader: loads the input as 8-bit text, then performs
// every read operation the handlers use on every node reachable from the
// document, also after a failed load (the partial tree must stay readable and
// freeable). Checks the tree's links and that ValueInteger and ValueIntegerOr
// agree.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/XmlUnit.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Exercise(const TXmlDocument& doc, const TXmlNode& node) {
  Check(node.Document() == &doc);
  static const AnsiString kNames[] = {"type", "TYPE", "", "version", "encoding", "a"};
  for (const AnsiString& name : kNames) (void)node.AttributeText(name);
  for (const AnsiString& entry : node.Attributes()) {
    // Every attribute written name=value is found by its own name.
    size_t eq = entry.find('=');
    if (eq != AnsiString::npos) (void)node.AttributeText(entry.substr(0, eq));
  }
  (void)node.ValueText();
  int32_t orValue = node.ValueIntegerOr(-7);
  try {
    int32_t v = node.ValueInteger();
    Check(v == orValue);
    Check(node.ValueIntegerOr(9) == v);
  } catch (const EConvertError&) {
    Check(orValue == -7 && node.ValueIntegerOr(9) == 9);
  }
  const int32_t n = node.ChildCount();
  Check(n >= 0);
  Check(node.ChildAt(-1) == nullptr);
  Check(node.ChildAt(INT32_MIN) == nullptr);
  Check(node.ChildAt(n) == nullptr);
  Check(node.ChildAt(INT32_MAX) == nullptr);
  if (node.Kind() == TXmlNodeKind::Element && node.Name().empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AnsiString text(reinterpret_cast<const char*>(data), size);
  TXmlDocument doc;
  bool loaded = true;
  try {
    doc.LoadFromText(text);
  } catch (const XmlParseError&) {
    loaded = false;
  }
  if (loaded) Check(doc.RootElement() != nullptr);
  // Walk the whole tree without recursion.
  std::vector<const TXmlNode*> todo;
  for (int32_t i = 0; i < doc.NodeCount(); ++i) {
    Check(doc.NodeAt(i)->Parent() == nullptr);
    todo.push_back(doc.NodeAt(i));
  }
  while (!todo.empty()) {
    const TXmlNode* node = todo.back();
    todo.pop_back();
    Exercise(doc, *node);
    for (int32_t i = 0; i < node->ChildCount(); ++i) {
      const TXmlNode* child = node->ChildAt(i);
      Check(child != nullptr && child->Parent() == node);
      todo.push_back(child);
    }
  }
  return 0;
}
