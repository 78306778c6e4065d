// Names of the exchange book tree. A name ending in "/" is a folder, "[]/" an element folder
// told apart by its index, "{}" a record bundle, and "!1:" starts a run's content item. The
// library fixes the first group; the rest are the names the module's export and import pass.
#pragma once

struct DWX_Names {
  // Fixed by the book writer and reader.
  static constexpr const char* Book = "Book/";
  static constexpr const char* ObjectsPool = "ObjectsPool/";
  static constexpr const char* StringsMap = "StringsMap{}";
  static constexpr const char* Attrs = "Attrs{}";
  // Default element names of the first-generation collections.
  static constexpr const char* TextVariablesDec = "TextVariablesDec[]/";
  static constexpr const char* ConditionalTextList = "ConditionalTextList[]/";

  // The tree as the module writes it.
  static constexpr const char* DocumentsSet = "DocumentsSet/";
  static constexpr const char* Document = "Document[]/";
  static constexpr const char* StylesSet = "StylesSet/";
  static constexpr const char* StyleInfo = "StyleInfo[]/";
  static constexpr const char* ThisStyleRef = "ThisStyleRef";
  static constexpr const char* BaseStyleRef = "BaseStyleRef";
  static constexpr const char* StoriesSet = "StoriesSet/";
  static constexpr const char* Story = "Story[]/";
  static constexpr const char* ParagraphsSet = "ParagraphsSet/";
  static constexpr const char* Paragraph = "Paragraph[]/";
  static constexpr const char* StyleRef = "StyleRef";
  static constexpr const char* TextRun = "TextRun[]/";

  // Run content items, one per run.
  static constexpr const char* Unicodes = "!1:Unicodes";
  static constexpr const char* Multibytes = "!1:Multibytes";
  static constexpr const char* WideMultibytes = "!1:WideMultibytes";
  static constexpr const char* SpecialChars = "!1:SpecialChars{}";
  static constexpr const char* RefPoints = "!1:RefPoints{}";
  static constexpr const char* PlaceHolders = "!1:PlaceHolders{}";

  // Attributes the book writer adds after the defaults.
  static constexpr const char16_t* ReleaseNumber = u"release_number";
  static constexpr const char16_t* ReleaseNumberValue = u"1";
  static constexpr const char16_t* BuildNumber = u"build_number";
  static constexpr const char16_t* BuildNumberValue = u"2";
};
