// XmlUnit: the XML reader.
//
// TXmlReader walks the text once, left to right, with no recursion: open
// elements live on an explicit stack of frames, so the depth of a document is
// bounded only by memory. At the top level and inside an element's content it
// looks for "<"; the characters after it pick the node kind by the longest
// matching opener, and the kind decides where the node ends ("-->", "]]>", "?>"
// or ">", the latter two ignoring closers inside quotes for tags). Character
// data is never copied byte by byte: a frame remembers where its pending text
// started, and the text is cut out once, when a child or the close tag flushes
// it. After the close tag the first text-run child becomes the element's value.
//
// Node destruction is iterative too (~TXmlNode), so freeing a deep tree uses no
// stack either. Values keep their raw text; entity decoding and integer
// conversion happen when a value is read.
#include "server/XmlUnit.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "platform/ConvertUnit.h"

namespace {

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view TrimXmlBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// True when every byte is at or below the space character.
bool IsWhiteOnly(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) > ' ') return false;
  return true;
}

// Markup openers after the "<", with their node kinds. The longest match wins.
struct TOpener {
  std::string_view text;
  TXmlNodeKind kind;
};
constexpr TOpener kOpeners[] = {
    {"!--", TXmlNodeKind::Comment},
    {"![CDATA[", TXmlNodeKind::CData},
    {"?xml", TXmlNodeKind::Declaration},
    {"?xml-stylesheet", TXmlNodeKind::Stylesheet},
    {"!DOCTYPE", TXmlNodeKind::DocType},
    {"!ELEMENT", TXmlNodeKind::ElementDecl},
    {"!ATTLIST", TXmlNodeKind::AttListDecl},
    {"!ENTITY", TXmlNodeKind::EntityDecl},
    {"!NOTATION", TXmlNodeKind::NotationDecl},
    {"!", TXmlNodeKind::Special},
    {"?", TXmlNodeKind::Instruction},
};

const AnsiString kCommentName = "Comment";
const AnsiString kCDataName = "CData";
const AnsiString kXmlName = "xml";
const AnsiString kStylesheetName = "xml-stylesheet";
const AnsiString kSpecialName = "Special";

// Decodes the five named entities and numeric references 0..254 (see the
// header). Replaced text is never scanned again.
AnsiString DecodeEntities(std::string_view s) {
  size_t amp = s.find('&');
  if (amp == std::string_view::npos) return AnsiString(s);
  AnsiString out;
  out.reserve(s.size());
  size_t pos = 0;
  while (true) {
    amp = s.find('&', pos);
    if (amp == std::string_view::npos) {
      out.append(s.substr(pos));
      break;
    }
    out.append(s.substr(pos, amp - pos));
    size_t semi = s.find(';', amp);
    if (semi == std::string_view::npos) {
      out.append(s.substr(amp));
      break;
    }
    std::string_view token = s.substr(amp, semi - amp + 1);
    pos = semi + 1;
    if (token.size() >= 2 && token[1] == '#') {
      int32_t v;
      if (TryStrToInt(token.substr(2, token.size() - 3), v) && v >= 0 && v <= 254) {
        out.push_back(static_cast<char>(static_cast<unsigned char>(v)));
      } else {
        out.append(token);
      }
    } else if (token == "&amp;") {
      out.push_back('&');
    } else if (token == "&lt;") {
      out.push_back('<');
    } else if (token == "&gt;") {
      out.push_back('>');
    } else if (token == "&apos;") {
      out.push_back('\'');
    } else if (token == "&quot;") {
      out.push_back('"');
    } else {
      out.append(token);
    }
  }
  return out;
}

// The text between the opening quote s[0] and the next single occurrence of the
// same quote; a doubled quote inside stands for one. Without a closing quote
// the rest of the text is taken.
AnsiString UnquoteValue(std::string_view s) {
  const char q = s[0];
  AnsiString out;
  out.reserve(s.size());
  size_t i = 1;
  while (i < s.size()) {
    if (s[i] == q) {
      if (i + 1 < s.size() && s[i + 1] == q) {
        out.push_back(q);
        i += 2;
        continue;
      }
      break;
    }
    out.push_back(s[i]);
    ++i;
  }
  return out;
}

}  // namespace

// Builds the tree of one document; see the comment at the top of the file.
class TXmlReader {
 public:
  TXmlReader(TXmlDocument& doc, std::string_view text) : doc_(doc), s_(text), n_(text.size()) {}

  void Run() {
    while (true) {
      if (!stack_.empty()) {
        StepContent();
        continue;
      }
      SkipBlanks();
      if (pos_ >= n_) break;
      if (s_[pos_] != '<') {
        ++pos_;  // character data outside markup: an empty node, dropped
        continue;
      }
      ++pos_;
      auto node = NewNode();
      TXmlNode* raw = node.get();
      bool open = ReadMarkup(*raw);
      if (!open && IsEmpty(*raw)) continue;
      doc_.nodes_.push_back(std::move(node));
      if (open) Push(raw);
    }
    for (const auto& node : doc_.nodes_)
      if (node->kind_ == TXmlNodeKind::Element) return;
    throw XmlParseError("No root element found in xml");
  }

 private:
  // An element whose content is being read.
  struct TFrame {
    TXmlNode* node;
    size_t pending;       // where the pending character data starts
    bool crAfterChild;    // a CR occurred after the last child read from markup
    bool hadMarkupChild;  // a child was read from markup
  };

  std::unique_ptr<TXmlNode> NewNode() { return std::unique_ptr<TXmlNode>(new TXmlNode(&doc_)); }

  static bool IsEmpty(const TXmlNode& node) {
    return node.name_.empty() && node.value_.empty() && node.attributes_.empty() &&
           node.children_.empty();
  }

  void SkipBlanks() {
    while (pos_ < n_ && IsBlank(s_[pos_])) ++pos_;
  }

  void Push(TXmlNode* node) { stack_.push_back(TFrame{node, pos_, false, false}); }

  // Reads one piece of the innermost open element's content: character data up
  // to the next "<", then the markup there.
  void StepContent() {
    TFrame& f = stack_.back();
    const char* base = s_.data();
    // Scan to the next '<', noting carriage returns on the way.
    size_t lt = pos_;
    while (lt < n_) {
      char c = base[lt];
      if (c == '<') break;
      if (c == '\r') f.crAfterChild = true;
      ++lt;
    }
    if (lt >= n_) {
      pos_ = n_;
      throw XmlParseError("Missing close tag in element " + f.node->name_);
    }
    pos_ = lt + 1;
    SkipBlanks();
    if (pos_ >= n_) throw XmlParseError("Missing data after \"<\" in element " + f.node->name_);
    if (s_[pos_] == '/') {
      size_t gt = s_.find('>', pos_ + 1);
      if (gt == std::string_view::npos)
        throw XmlParseError("Missing \">\" in close tag of element " + f.node->name_);
      std::string_view closeName = TrimXmlBlanks(s_.substr(pos_ + 1, gt - pos_ - 1));
      if (!AnsiSameText(closeName, f.node->name_))
        throw XmlParseError("Incorrect close tag in element " + f.node->name_);
      Flush(f, lt);
      pos_ = gt + 1;
      FinishElement(f);
      stack_.pop_back();
      if (!stack_.empty()) stack_.back().pending = pos_;
      return;
    }
    Flush(f, lt);
    // The child is read from its "<", as at the top level: "< !--" is no comment.
    pos_ = lt + 1;
    auto child = NewNode();
    TXmlNode* raw = child.get();
    bool open = ReadMarkup(*raw);
    Append(*f.node, std::move(child));
    f.crAfterChild = false;
    f.hadMarkupChild = true;
    f.pending = pos_;
    if (open) Push(raw);  // invalidates f
  }

  static void Append(TXmlNode& parent, std::unique_ptr<TXmlNode> child) {
    child->parent_ = &parent;
    parent.children_.push_back(std::move(child));
  }

  // Turns the pending character data [f.pending, end) into a text-run child
  // unless it is blank-only.
  void Flush(TFrame& f, size_t end) {
    std::string_view text = s_.substr(f.pending, end - f.pending);
    f.pending = end;
    if (IsWhiteOnly(text)) return;
    auto run = NewNode();
    run->kind_ = TXmlNodeKind::Text;
    run->value_.assign(text);
    Append(*f.node, std::move(run));
  }

  static void FinishElement(TFrame& f) {
    TXmlNode& e = *f.node;
    if (e.children_.empty()) return;
    if (f.hadMarkupChild && f.crAfterChild) {
      for (auto& c : e.children_) {
        if (c->kind_ != TXmlNodeKind::Text) continue;
        AnsiString& v = c->value_;
        size_t len = v.size();
        while (len > 0 && (v[len - 1] == '\r' || v[len - 1] == '\n' || v[len - 1] == ' ')) --len;
        v.resize(len);
      }
    }
    if (e.children_.front()->kind_ == TXmlNodeKind::Text) {
      e.value_ = std::move(e.children_.front()->value_);
      e.children_.erase(e.children_.begin());
    }
  }

  // Reads the markup whose opener starts at pos_ (just after the "<") into
  // node. Returns true when node is an element whose content follows.
  bool ReadMarkup(TXmlNode& node) {
    std::string_view rest = s_.substr(pos_);
    TXmlNodeKind kind = TXmlNodeKind::Element;
    size_t openLen = 0;
    if (!rest.empty() && (rest[0] == '!' || rest[0] == '?')) {
      for (const TOpener& o : kOpeners) {
        if (o.text.size() > openLen && rest.substr(0, o.text.size()) == o.text) {
          kind = o.kind;
          openLen = o.text.size();
        }
      }
    }
    pos_ += openLen;
    node.kind_ = kind;
    switch (kind) {
      case TXmlNodeKind::Comment:
        node.name_ = kCommentName;
        node.value_.assign(ReadUntil("-->"));
        return false;
      case TXmlNodeKind::CData:
        node.name_ = kCDataName;
        node.value_.assign(ReadUntil("]]>"));
        return false;
      case TXmlNodeKind::Special:
        node.name_ = kSpecialName;
        node.value_.assign(ReadUntil(">"));
        return false;
      case TXmlNodeKind::Instruction:
        node.name_ = kSpecialName;
        node.value_.assign(ReadUntil("?>"));
        return false;
      case TXmlNodeKind::Declaration:
        node.name_ = kXmlName;
        SplitTag(ReadTag(true), node.attributes_);
        return false;
      case TXmlNodeKind::Stylesheet:
        node.name_ = kStylesheetName;
        node.value_.assign(TrimXmlBlanks(ReadTag(true)));
        return false;
      case TXmlNodeKind::DocType:
        ReadDeclaration(node, ReadDocType());
        return false;
      case TXmlNodeKind::ElementDecl:
      case TXmlNodeKind::AttListDecl:
      case TXmlNodeKind::EntityDecl:
      case TXmlNodeKind::NotationDecl:
        ReadDeclaration(node, ReadTag(false));
        return false;
      case TXmlNodeKind::Element:
      case TXmlNodeKind::Text:
        break;
    }
    std::string_view tag = ReadTag(false);
    bool empty = !tag.empty() && tag.back() == '/';
    if (empty) tag.remove_suffix(1);
    SplitTag(tag, tokens_);
    if (tokens_.empty()) throw XmlParseError("Missing element name");
    node.name_ = std::move(tokens_[0]);
    if (tokens_.size() > 1) {
      node.attributes_.reserve(tokens_.size() - 1);
      for (size_t i = 1; i < tokens_.size(); ++i) node.attributes_.push_back(std::move(tokens_[i]));
    }
    return !empty;
  }

  // The text from pos_ up to closer (removed); empty when closer never comes,
  // and the input is then consumed.
  std::string_view ReadUntil(std::string_view closer) {
    size_t end = s_.find(closer, pos_);
    if (end == std::string_view::npos) {
      pos_ = n_;
      return std::string_view();
    }
    std::string_view text = s_.substr(pos_, end - pos_);
    pos_ = end + closer.size();
    return text;
  }

  // A tag's text up to ">" (or "?>" when question), a closer inside a quoted
  // part not counting; empty when the tag is never closed.
  std::string_view ReadTag(bool question) {
    char quote = 0;
    for (size_t i = pos_; i < n_; ++i) {
      char c = s_[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>' && (!question || (i > pos_ && s_[i - 1] == '?'))) {
        std::string_view text = s_.substr(pos_, i - pos_ - (question ? 1 : 0));
        pos_ = i + 1;
        return text;
      }
    }
    pos_ = n_;
    return std::string_view();
  }

  // A document type declaration: up to its first ">", or, when a "[" comes
  // first, up to the first ">" after the internal subset. Quoted literals and
  // comments inside the subset are skipped whole.
  std::string_view ReadDocType() {
    const size_t start = pos_;
    char quote = 0;
    bool subset = false;
    size_t i = pos_;
    while (i < n_) {
      char c = s_[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (subset) {
        if (c == ']') {
          subset = false;
        } else if (c == '<' && s_.substr(i, 4) == "<!--") {
          size_t end = s_.find("-->", i + 4);
          if (end == std::string_view::npos) break;
          i = end + 3;
          continue;
        }
      } else if (c == '[') {
        subset = true;
      } else if (c == '>') {
        pos_ = i + 1;
        return s_.substr(start, i - start);
      }
      ++i;
    }
    pos_ = n_;
    return s_.substr(start);
  }

  // Kinds 5 to 9: the first word is the name, the rest (trimmed) the value.
  static void ReadDeclaration(TXmlNode& node, std::string_view text) {
    text = TrimXmlBlanks(text);
    size_t w = 0;
    while (w < text.size() && !IsBlank(text[w]) && text[w] != '[' && text[w] != '"' &&
           text[w] != '\'')
      ++w;
    node.name_.assign(text.substr(0, w));
    node.value_.assign(TrimXmlBlanks(text.substr(w)));
  }

  // Splits a tag's text into tokens at blanks outside quotes, then joins a
  // token starting with "=" to the one before it, and then a token starting
  // with a quote to the one before it when that one holds "=".
  static void SplitTag(std::string_view tag, std::vector<AnsiString>& out) {
    out.clear();
    size_t i = 0;
    const size_t n = tag.size();
    while (i < n) {
      while (i < n && IsBlank(tag[i])) ++i;
      if (i >= n) break;
      size_t start = i;
      char quote = 0;
      while (i < n) {
        char c = tag[i];
        if (quote) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (IsBlank(c)) {
          break;
        }
        ++i;
      }
      out.emplace_back(tag.substr(start, i - start));
    }
    if (out.size() < 2) return;
    JoinTokens(out, [](const AnsiString& tok, const AnsiString&) { return tok[0] == '='; });
    JoinTokens(out, [](const AnsiString& tok, const AnsiString& prev) {
      return (tok[0] == '"' || tok[0] == '\'') && prev.find('=') != AnsiString::npos;
    });
  }

  template <class Pred>
  static void JoinTokens(std::vector<AnsiString>& toks, Pred joins) {
    size_t w = 0;
    for (size_t r = 0; r < toks.size(); ++r) {
      if (w > 0 && joins(toks[r], toks[w - 1])) {
        toks[w - 1] += toks[r];
      } else {
        if (w != r) toks[w] = std::move(toks[r]);
        ++w;
      }
    }
    toks.resize(w);
  }

  TXmlDocument& doc_;
  std::string_view s_;
  size_t n_;
  size_t pos_ = 0;
  std::vector<TFrame> stack_;
  std::vector<AnsiString> tokens_;
};

TXmlNode::~TXmlNode() {
  if (children_.empty()) return;
  // Free the subtree without recursion: each node is destroyed only after its
  // children have been moved out of it.
  std::vector<std::unique_ptr<TXmlNode>> doomed = std::move(children_);
  while (!doomed.empty()) {
    std::unique_ptr<TXmlNode> node = std::move(doomed.back());
    doomed.pop_back();
    for (auto& c : node->children_) doomed.push_back(std::move(c));
    node->children_.clear();
  }
}

AnsiString TXmlNode::AttributeText(const AnsiString& name) const {
  for (const AnsiString& entry : attributes_) {
    size_t eq = entry.find('=');
    if (eq == AnsiString::npos) continue;
    if (!AnsiSameText(std::string_view(entry).substr(0, eq), name)) continue;
    std::string_view value = std::string_view(entry).substr(eq + 1);
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\''))
      return DecodeEntities(UnquoteValue(value));
    return DecodeEntities(value);
  }
  return AnsiString();
}

int32_t TXmlNode::ChildCount() const {
  return static_cast<int32_t>(children_.size());
}

TXmlNode* TXmlNode::ChildAt(int32_t index) const {
  if (index < 0 || index >= ChildCount()) return nullptr;
  return children_[static_cast<size_t>(index)].get();
}

AnsiString TXmlNode::ValueText() const {
  return DecodeEntities(value_);
}

int32_t TXmlNode::ValueInteger() const {
  return StrToInt(value_);
}

int32_t TXmlNode::ValueIntegerOr(int32_t def) const {
  return StrToIntDef(value_, def);
}

TXmlDocument::TXmlDocument() {
  auto decl = std::unique_ptr<TXmlNode>(new TXmlNode(this));
  decl->kind_ = TXmlNodeKind::Declaration;
  decl->name_ = kXmlName;
  decl->attributes_ = {"version=\"1.0\"", "encoding=\"windows-1252\""};
  nodes_.push_back(std::move(decl));
  nodes_.push_back(std::unique_ptr<TXmlNode>(new TXmlNode(this)));
}

TXmlDocument::~TXmlDocument() = default;

void TXmlDocument::LoadFromText(const AnsiString& text) {
  nodes_.clear();
  TXmlReader reader(*this, text);
  reader.Run();
}

TXmlNode* TXmlDocument::RootElement() const {
  for (const auto& node : nodes_)
    if (node->kind_ == TXmlNodeKind::Element) return node.get();
  return nullptr;
}

TXmlNode* TXmlDocument::NodeAt(int32_t index) const {
  if (index < 0 || index >= NodeCount()) return nullptr;
  return nodes_[static_cast<size_t>(index)].get();
}
