// Tests of the XML reader: node positions, values, attributes, entities, the
// integer syntax, the six load errors, declarations and deep documents.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ConvertUnit.h"
#include "server/XmlUnit.h"
#include "tests/TestRowNames.h"

namespace {

std::unique_ptr<TXmlDocument> Load(const AnsiString& text) {
  auto doc = std::make_unique<TXmlDocument>();
  doc->LoadFromText(text);
  return doc;
}

// The message of the XmlParseError that loading text raises, or "" on success.
std::string LoadError(const AnsiString& text) {
  TXmlDocument doc;
  try {
    doc.LoadFromText(text);
  } catch (const XmlParseError& e) {
    return e.what();
  }
  return "";
}

// A compact picture of an element's children: "name=value" for each, kinds
// other than elements shown by their fixed names.
std::vector<std::string> Children(const TXmlNode* node) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < node->ChildCount(); ++i) {
    const TXmlNode* c = node->ChildAt(i);
    out.push_back(c->Name() + "=" + c->Value());
  }
  return out;
}

TEST(XmlDocument, NewDocumentHoldsDeclarationAndEmptyElement) {
  TXmlDocument doc;
  ASSERT_EQ(doc.NodeCount(), 2);
  TXmlNode* decl = doc.NodeAt(0);
  EXPECT_EQ(decl->Kind(), TXmlNodeKind::Declaration);
  EXPECT_EQ(decl->Name(), "xml");
  EXPECT_EQ(decl->Attributes(),
            (std::vector<AnsiString>{"version=\"1.0\"", "encoding=\"windows-1252\""}));
  EXPECT_EQ(decl->AttributeText("encoding"), "windows-1252");
  TXmlNode* root = doc.RootElement();
  ASSERT_EQ(root, doc.NodeAt(1));
  EXPECT_EQ(root->Kind(), TXmlNodeKind::Element);
  EXPECT_EQ(root->Name(), "");
  EXPECT_EQ(root->ChildCount(), 0);
  EXPECT_EQ(root->Document(), &doc);
  EXPECT_EQ(doc.NodeAt(2), nullptr);
  EXPECT_EQ(doc.NodeAt(-1), nullptr);
}

TEST(XmlDocument, LoadReplacesInitialNodes) {
  auto doc = Load("<R/>");
  ASSERT_EQ(doc->NodeCount(), 1);
  EXPECT_EQ(doc->RootElement()->Name(), "R");
  EXPECT_EQ(doc->RootElement()->Document(), doc.get());
  EXPECT_EQ(doc->RootElement()->Parent(), nullptr);
}

TEST(XmlDocument, EmptyRootWithQuotedType) {
  auto doc = Load("<Request type='ReadCard'/>");
  TXmlNode* root = doc->RootElement();
  EXPECT_EQ(root->Name(), "Request");
  EXPECT_EQ(root->ChildCount(), 0);
  EXPECT_EQ(root->ChildAt(0), nullptr);
  EXPECT_EQ(root->AttributeText("type"), "ReadCard");
  EXPECT_EQ(root->AttributeText("TYPE"), "ReadCard");
  EXPECT_EQ(root->AttributeText("kind"), "");
}

TEST(XmlDocument, DeclaredEncodingDoesNotTranscode) {
  const AnsiString gbk = "\xD0\xB4\xBF\xA8";  // two GBK characters
  auto doc = Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<R><A>" + gbk + "</A></R>");
  ASSERT_EQ(doc->NodeCount(), 2);
  EXPECT_EQ(doc->NodeAt(0)->Kind(), TXmlNodeKind::Declaration);
  EXPECT_EQ(doc->NodeAt(0)->AttributeText("encoding"), "UTF-8");
  TXmlNode* root = doc->RootElement();
  EXPECT_EQ(root->Name(), "R");
  ASSERT_NE(root->ChildAt(0), nullptr);
  EXPECT_EQ(root->ChildAt(0)->Name(), "A");
  EXPECT_EQ(root->ChildAt(0)->ValueText(), gbk);
}

struct TPositionCase {
  const char* text;
  const char* rootValue;
  std::vector<std::string> children;
};

class XmlPositions : public ::testing::TestWithParam<TPositionCase> {};

TEST_P(XmlPositions, ChildrenByPosition) {
  const TPositionCase& c = GetParam();
  auto doc = Load(c.text);
  TXmlNode* root = doc->RootElement();
  EXPECT_EQ(root->Value(), c.rootValue);
  EXPECT_EQ(Children(root), c.children);
  for (int32_t i = 0; i < root->ChildCount(); ++i) EXPECT_EQ(root->ChildAt(i)->Parent(), root);
  EXPECT_EQ(root->ChildAt(root->ChildCount()), nullptr);
  EXPECT_EQ(root->ChildAt(-1), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlPositions,
    ::testing::Values(TPositionCase{"<R><A>1</A> <B>2</B></R>", "", {"A=1", "B=2"}},
                      TPositionCase{"<R><!--note--><A>1</A></R>", "", {"Comment=note", "A=1"}},
                      TPositionCase{"<R>t<A>1</A>u<B>2</B></R>", "t", {"A=1", "=u", "B=2"}},
                      TPositionCase{"<R>\r\n  <A>1</A>\r\n  <B/>\r\n</R>\r\n", "", {"A=1", "B="}},
                      TPositionCase{
                          "<R><![CDATA[<x>&amp;]]><A/></R>", "", {"CData=<x>&amp;", "A="}},
                      TPositionCase{"<R><?pi data?><!something><A/></R>",
                                    "",
                                    {"Special=pi data", "Special=something", "A="}},
                      // A text run after the last child, in a document with line breaks,
                      // loses its trailing CR, LF and blanks.
                      TPositionCase{"<R>t<A/>u \r\n</R>", "t", {"A=", "=u"}},
                      TPositionCase{"<R>t \r\n<A/>u \n</R>", "t \r\n", {"A=", "=u \n"}},
                      // Without a child the content is kept exactly.
                      TPositionCase{"<R>12\r\n</R>", "12\r\n", {}},
                      TPositionCase{"<R><A/>\t</R>", "", {"A="}},
                      TPositionCase{"<R><A>\xB0\xA1</A></R>", "", {"A=\xB0\xA1"}},
                      TPositionCase{"< R >x< A >1</ A ></ r >", "x", {"A=1"}}),
    velio_test::RowTextName<&TPositionCase::text>());

TEST(XmlDocument, LeafValues) {
  struct {
    const char* text;
    const char* value;
  } cases[] = {{"<A>12</A>", "12"}, {"<A> 12 </A>", " 12 "},     {"<A>  </A>", ""},    {"<A/>", ""},
               {"<A></A>", ""},     {"<A>a\r\nb</A>", "a\r\nb"}, {"<A>x>y</A>", "x>y"}};
  for (const auto& c : cases) {
    auto doc = Load(c.text);
    EXPECT_EQ(doc->RootElement()->ValueText(), c.value) << c.text;
    EXPECT_EQ(doc->RootElement()->ChildCount(), 0) << c.text;
  }
}

TEST(XmlDocument, TopLevelTextSkippedAndFirstElementIsRoot) {
  auto doc = Load("junk <!--c--> more <A>1</A><B>2</B> tail");
  ASSERT_EQ(doc->NodeCount(), 3);
  EXPECT_EQ(doc->NodeAt(0)->Kind(), TXmlNodeKind::Comment);
  EXPECT_EQ(doc->RootElement()->Name(), "A");
  EXPECT_EQ(doc->NodeAt(2)->Name(), "B");
}

TEST(XmlDocument, DeclarationAfterRootAccepted) {
  auto doc = Load("<A/><?xml version=\"1.0\"?>");
  EXPECT_EQ(doc->RootElement()->Name(), "A");
  EXPECT_EQ(doc->NodeAt(1)->Kind(), TXmlNodeKind::Declaration);
}

TEST(XmlDocument, NodeKindsByLongestOpener) {
  auto doc = Load(
      "<?xml version='1.0'?><?xml-stylesheet  type=\"text/xsl\" href=\"a?>b\" ?>"
      "<?other x?><!DOCTYPE R><!ELEMENT R ANY><!ATTLIST R a CDATA #IMPLIED>"
      "<!ENTITY e \"v>w\"><!NOTATION n SYSTEM \"x\"><!odd><R/>");
  std::vector<std::pair<TXmlNodeKind, std::string>> got;
  for (int32_t i = 0; i < doc->NodeCount(); ++i)
    got.emplace_back(doc->NodeAt(i)->Kind(), doc->NodeAt(i)->Name());
  std::vector<std::pair<TXmlNodeKind, std::string>> want = {
      {TXmlNodeKind::Declaration, "xml"},     {TXmlNodeKind::Stylesheet, "xml-stylesheet"},
      {TXmlNodeKind::Instruction, "Special"}, {TXmlNodeKind::DocType, "R"},
      {TXmlNodeKind::ElementDecl, "R"},       {TXmlNodeKind::AttListDecl, "R"},
      {TXmlNodeKind::EntityDecl, "e"},        {TXmlNodeKind::NotationDecl, "n"},
      {TXmlNodeKind::Special, "Special"},     {TXmlNodeKind::Element, "R"}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(doc->NodeAt(0)->AttributeText("version"), "1.0");
  EXPECT_EQ(doc->NodeAt(1)->Value(), "type=\"text/xsl\" href=\"a?>b\"");
  EXPECT_EQ(doc->NodeAt(2)->Value(), "other x");
  EXPECT_EQ(doc->NodeAt(8)->Value(), "odd");
}

TEST(XmlDocument, DocTypeWithInternalSubsetIsConsumed) {
  auto doc = Load(
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE Request [\n"
      "  <!ELEMENT Request (A)>\n"
      "  <!-- a ] and a > in a comment -->\n"
      "  <!ENTITY x \"]>\">\n"
      "]>\n"
      "<Request type=\"ReadCard\"><A>&x;</A></Request>");
  ASSERT_EQ(doc->NodeCount(), 3);
  EXPECT_EQ(doc->NodeAt(1)->Kind(), TXmlNodeKind::DocType);
  EXPECT_EQ(doc->NodeAt(1)->Name(), "Request");
  TXmlNode* root = doc->RootElement();
  EXPECT_EQ(root->AttributeText("type"), "ReadCard");
  // Declared entities are never applied.
  EXPECT_EQ(root->ChildAt(0)->ValueText(), "&x;");
}

TEST(XmlDocument, DocTypeInsideElementIsAChild) {
  auto doc = Load("<R><!DOCTYPE x [<!ELEMENT x ANY>]><A>1</A></R>");
  EXPECT_EQ(Children(doc->RootElement()),
            (std::vector<std::string>{"x=[<!ELEMENT x ANY>]", "A=1"}));
}

TEST(XmlDocument, TagTokensJoinEqualsAndQuotes) {
  auto doc = Load("<R type = \"x y\" a= 'b' c =d e f=\"g>h\" i='it''s' j=\"\" k=\"q\"\"q\"/>");
  TXmlNode* root = doc->RootElement();
  EXPECT_EQ(root->Attributes(),
            (std::vector<AnsiString>{"type=\"x y\"", "a='b'", "c=d", "e", "f=\"g>h\"", "i='it''s'",
                                     "j=\"\"", "k=\"q\"\"q\""}));
  EXPECT_EQ(root->AttributeText("type"), "x y");
  EXPECT_EQ(root->AttributeText("a"), "b");
  EXPECT_EQ(root->AttributeText("c"), "d");
  EXPECT_EQ(root->AttributeText("e"), "");  // no "=": never matches
  EXPECT_EQ(root->AttributeText("f"), "g>h");
  EXPECT_EQ(root->AttributeText("i"), "it's");
  EXPECT_EQ(root->AttributeText("j"), "");
  EXPECT_EQ(root->AttributeText("k"), "q\"q");
  EXPECT_EQ(root->ChildCount(), 0);
}

TEST(XmlDocument, AttributeLookupRules) {
  auto doc =
      Load("<R type=x Type='second' v=\"a=b\" amp=\"&lt;&#65;\" s=' x ' one='\"' two=\"''\"/>");
  TXmlNode* root = doc->RootElement();
  EXPECT_EQ(root->AttributeText("type"), "x");  // first match, unquoted as written
  EXPECT_EQ(root->AttributeText("TYPE"), "x");
  EXPECT_EQ(root->AttributeText("v"), "a=b");   // split at the first "="
  EXPECT_EQ(root->AttributeText("amp"), "<A");  // entity-decoded
  EXPECT_EQ(root->AttributeText("s"), " x ");   // not trimmed
  EXPECT_EQ(root->AttributeText("one"), "\"");
  EXPECT_EQ(root->AttributeText("two"), "''");
  EXPECT_EQ(root->AttributeText("ty"), "");
}

TEST(XmlDocument, AttributeNameWithGbkTrailByteLettersComparesByCharacter) {
  // 0x81 0x61 and 0x81 0x41 are two different double-byte characters whose
  // trail bytes look like 'a' and 'A'; the ASCII letters around them fold.
  auto doc = Load("<R n\x81\x61x=1 />");
  TXmlNode* root = doc->RootElement();
  EXPECT_EQ(root->AttributeText("n\x81\x61x"), "1");
  EXPECT_EQ(root->AttributeText("N\x81\x61X"), "1");
  EXPECT_EQ(root->AttributeText("n\x81\x41x"), "");
}

TEST(XmlDocument, CloseTagWithGbkTrailByteLettersComparesByCharacter) {
  EXPECT_EQ(LoadError("<R><\x81\x61x>1</\x81\x61X></R>"), "");
  EXPECT_EQ(LoadError("<R><\x81\x61>1</\x81\x41></R>"), "Incorrect close tag in element \x81\x61");
  // Names made of double-byte characters whose trail bytes look like letters.
  auto doc = Load("<\xB0\x61><\xB0\x41>v</\xB0\x41></\xB0\x61>");
  EXPECT_EQ(doc->RootElement()->Name(), "\xB0\x61");
  EXPECT_EQ(doc->RootElement()->ChildAt(0)->Name(), "\xB0\x41");
}

TEST(XmlDocument, ParseErrors) {
  struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "No root element found in xml"},
      {" \r\n\t ", "No root element found in xml"},
      {"just text", "No root element found in xml"},
      {"<!--c--><?xml version='1.0'?>", "No root element found in xml"},
      {"<>", "Missing element name"},
      {"< />", "Missing element name"},
      {"<R><A", "Missing element name"},
      {"<R a='>'", "Missing element name"},
      {"<R><A>1</A>", "Missing close tag in element R"},
      {"<R><A>1", "Missing close tag in element A"},
      {"<R>", "Missing close tag in element R"},
      {"<R>text<", "Missing data after \"<\" in element R"},
      {"<R><A>x<  \r\n", "Missing data after \"<\" in element A"},
      {"<R><A>1</A", "Missing \">\" in close tag of element A"},
      {"<R></R", "Missing \">\" in close tag of element R"},
      {"<R><A>1</B></R>", "Incorrect close tag in element A"},
      {"<R><A>1</A></S>", "Incorrect close tag in element R"},
      {"<R></>", "Incorrect close tag in element R"},
      // Blanks after "<" make an element, never a comment, CDATA or instruction.
      {"<R>< !--x--></R>", "Incorrect close tag in element !--x--"},
      {"<R>\r\n< ?pi?></R>", "Incorrect close tag in element ?pi?"},
      {"<R/>< ?pi?>", "Missing close tag in element ?pi?"},
  };
  for (const auto& c : cases) EXPECT_EQ(LoadError(c.text), c.message) << c.text;
  EXPECT_EQ(LoadError("<R><A>1</a></R>"), "");
  EXPECT_THROW(TXmlDocument().LoadFromText("<R>"), EVelioError);
}

TEST(XmlDocument, FailedLoadLeavesDestroyablePartialTree) {
  TXmlDocument doc;
  EXPECT_THROW(doc.LoadFromText("<R><A><B>1</B><C>"), XmlParseError);
  EXPECT_EQ(doc.RootElement()->Name(), "R");
}

TEST(XmlEntities, DecodingTable) {
  struct {
    const char* raw;
    const char* decoded;
  } cases[] = {
      {"a&amp;b&lt;&#65;&#x42;&nbsp;&#255;", "a&b<AB&nbsp;&#255;"},
      {"Tom & Jerry", "Tom & Jerry"},
      {"&amp;lt;", "&lt;"},
      {"&gt;&apos;&quot;", ">'\""},
      {"&AMP;&Lt;", "&AMP;&Lt;"},
      {"&#X41;&#$41;&#0x41;&#+65;", "AAAA"},
      {"&#254;", "\xFE"},
      {"&#;&#x;&#a;&#-1;&#65 ;&#4294967361;", "&#;&#x;&#a;&#-1;&#65 ;&#4294967361;"},
      {"& b; &", "& b; &"},
      {"&#9;x&#10;", "\tx\n"},
      {"&", "&"},
      {"x&#65", "x&#65"},
  };
  for (const auto& c : cases) {
    auto doc = Load(std::string("<A>") + c.raw + "</A>");
    EXPECT_EQ(doc->RootElement()->ValueText(), c.decoded) << c.raw;
    EXPECT_EQ(doc->RootElement()->Value(), c.raw);
  }
  auto doc = Load("<A>&#0;</A>");
  EXPECT_EQ(doc->RootElement()->ValueText(), std::string(1, '\0'));
}

TEST(XmlIntegers, ValueIntegerSyntax) {
  struct {
    const char* raw;
    bool ok;
    int32_t value;
  } cases[] = {
      {" 7", true, 7},
      {"7 ", false, 0},
      {"&#55;", false, 0},
      {"", false, 0},
      {"-12", true, -12},
      {"+12", true, 12},
      {"  -0", true, 0},
      {"$1F", true, 31},
      {"x1f", true, 31},
      {"X1F", true, 31},
      {"0x1F", true, 31},
      {"0X1f", true, 31},
      {"-$10", true, -16},
      {"$", false, 0},
      {"0x", false, 0},
      {"1F", false, 0},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"$7FFFFFFF", true, 2147483647},
      {"-$80000000", true, INT32_MIN},
      {"$80000000", false, 0},
      {"$FFFFFFFF", false, 0},
      {"99999999999999999999", false, 0},
      {"\t7", false, 0},
      {"- 7", false, 0},
      {"1.5", false, 0},
      {"++1", false, 0},
      {"007", true, 7},
  };
  for (const auto& c : cases) {
    auto doc = Load(std::string("<A>") + c.raw + "</A>");
    TXmlNode* a = doc->RootElement();
    EXPECT_EQ(a->ValueIntegerOr(-1), c.ok ? c.value : -1) << c.raw;
    if (c.ok) {
      EXPECT_EQ(a->ValueInteger(), c.value) << c.raw;
    } else {
      try {
        a->ValueInteger();
        ADD_FAILURE() << "no error for " << c.raw;
      } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()),
                  std::string("'") + c.raw + "' is not a valid integer value");
      }
    }
  }
}

TEST(XmlIntegers, BlankTextIsNoInteger) {
  // A blank leaf value is empty; blank text as such is no integer either.
  int32_t v = 5;
  EXPECT_FALSE(TryStrToInt("   ", v));
  EXPECT_FALSE(TryStrToInt("", v));
  EXPECT_EQ(v, 5);
  auto doc = Load("<A>   </A>");
  EXPECT_EQ(doc->RootElement()->ValueIntegerOr(-3), -3);
}

TEST(XmlDocument, DeepNestingLoadsAndFrees) {
  const int kDepth = 1000000;
  std::string text;
  text.reserve(kDepth * 7 + 16);
  for (int i = 0; i < kDepth; ++i) text += "<a>";
  text += "x";
  for (int i = 0; i < kDepth; ++i) text += "</a>";
  {
    auto doc = Load(text);
    TXmlNode* n = doc->RootElement();
    int depth = 1;
    while (n->ChildCount() > 0) {
      n = n->ChildAt(0);
      ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(n->ValueText(), "x");
  }
  // Unclosed: fails cleanly, and the partial tree is freed as well.
  text.resize(200000 * 3);
  EXPECT_EQ(LoadError(text), "Missing close tag in element a");
}

TEST(XmlDocument, TypicalMemberRequest) {
  const AnsiString request =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<DoorRequest type=\"WriteMemberCard\">\r\n"
      "  <CardNo>00012345</CardNo>\r\n"
      "  <MemberName>" +
      Lit("张三") +
      "</MemberName>\r\n"
      "  <Balance>100</Balance>\r\n"
      "</DoorRequest>\r\n";
  auto doc = Load(request);
  TXmlNode* root = doc->RootElement();
  EXPECT_EQ(root->AttributeText("type"), "WriteMemberCard");
  ASSERT_EQ(root->ChildCount(), 3);
  EXPECT_EQ(root->ChildAt(0)->ValueText(), "00012345");
  EXPECT_EQ(root->ChildAt(1)->ValueText(), Lit("张三"));
  EXPECT_EQ(root->ChildAt(2)->ValueInteger(), 100);
}

}  // namespace
