#include "client/item_actions.h"

#include <gtest/gtest.h>

#include "client/search_key_list.h"

namespace qv::client {
namespace {

ActionPlan Plan(ItemVerb verb, std::string_view id, bool sandboxed = false,
                ItemKind kind = ItemKind::File) {
  ActionPlan p;
  EXPECT_EQ(PlanItemAction(verb, kind, id, sandboxed, p), S_OK) << id;
  return p;
}

TEST(ItemActionsTest, OpeningGoesToTheOpenHelperOrInASandboxToThePortal) {
  auto p = Plan(ItemVerb::Open, "/home/u/a b#1.txt");
  EXPECT_EQ(p.command, (ActionCommand{"xdg-open", {"file:///home/u/a%20b%231.txt"}}));
  ASSERT_TRUE(p.whenNoAssociation);
  EXPECT_EQ(p.whenNoAssociation->program, "gdbus");
  EXPECT_EQ(p.whenNoAssociation->args.back(), "{'ask': <true>}");

  p = Plan(ItemVerb::Open, "http://example.org/it's", true, ItemKind::WebPage);
  EXPECT_EQ(p.command.program, "gdbus");
  const std::vector<std::string> tail(p.command.args.end() - 3, p.command.args.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"''", "'http://example.org/it\\'s'", "{}"}));
  EXPECT_NE(std::find(p.command.args.begin(), p.command.args.end(),
                      "org.freedesktop.portal.OpenURI.OpenURI"),
            p.command.args.end());

  p = Plan(ItemVerb::OpenWith, "/doc.odt");
  EXPECT_EQ(p.command.args.back(), "{'ask': <true>}");
  EXPECT_FALSE(p.whenNoAssociation);

  p = Plan(ItemVerb::Properties, "/doc.odt");
  const std::vector<std::string> props(p.command.args.end() - 2, p.command.args.end());
  EXPECT_EQ(props, (std::vector<std::string>{"['file:///doc.odt']", "''"}));
}

TEST(ItemActionsTest, NothingThatCouldBeReadAsAnOptionOrASecondLineIsHandedOn) {
  ActionPlan p;
  EXPECT_EQ(PlanItemAction(ItemVerb::Open, ItemKind::File, "-rf", false, p), E_INVALIDARG);
  EXPECT_EQ(PlanItemAction(ItemVerb::Open, ItemKind::File, "relative/x", false, p), E_INVALIDARG);
  EXPECT_EQ(PlanItemAction(ItemVerb::Open, ItemKind::File, "", false, p), E_INVALIDARG);
  EXPECT_EQ(PlanItemAction(ItemVerb::Open, ItemKind::Mail, "outlook:00AB", false, p), E_INVALIDARG);
  EXPECT_EQ(PlanItemAction(ItemVerb::Properties, ItemKind::WebPage, "http://x/", false, p),
            E_INVALIDARG);
  EXPECT_EQ(ItemAddress("http://x/a b\r\nc"), "http://x/a%20b%0D%0Ac");
}

TEST(ItemActionsTest, MailIdentifiersAreReplacedOnceAndDecodedStrictly) {
  MailIdReplacement r;
  EXPECT_EQ(r.Apply("outlook:00AB"), "outlook:00AB");
  EXPECT_FALSE(r.Set("mailto:x", "outlook:01"));
  EXPECT_FALSE(r.Set("outlook:01", "outlook:" + std::string(120, 'A')));
  ASSERT_TRUE(r.Set("outlook:00AB", "outlook:00CD"));
  EXPECT_EQ(r.Apply("OUTLOOK:00ab"), "outlook:00CD");
  EXPECT_EQ(r.Apply("outlook:00AC"), "outlook:00AC");

  std::vector<std::uint8_t> id;
  EXPECT_EQ(DecodeMailIdentifier("Outlook:00AB7F", id), S_OK);
  EXPECT_EQ(id, (std::vector<std::uint8_t>{0x00, 0xAB, 0x7F}));
  EXPECT_EQ(DecodeMailIdentifier("outlook:00ab", id), E_INVALIDARG);
  EXPECT_EQ(DecodeMailIdentifier("outlook:ABC", id), E_INVALIDARG);
  EXPECT_EQ(DecodeMailIdentifier("outlook:", id), E_INVALIDARG);
  EXPECT_TRUE(id.empty());
}

TEST(ItemActionsTest, DraggingTwoRowsGivesTwoAddressesAndASixLineSearchKeyList) {
  const Guid key = *ParseGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  const std::vector<DragItem> rows = {
      {ItemKind::File, "/home/u/Budget \"2005\".xls", "", "Budget \"2005\".xls", key},
      {ItemKind::WebPage, "/root/WebHistory/x.q6w", "http://example.org/", "Example", Guid{}},
  };
  const DragData d = MakeDragData(rows);
  EXPECT_EQ(d.uriList,
            "file:///home/u/Budget%20%222005%22.xls\r\nhttp://example.org/\r\n");
  EXPECT_EQ(d.text, "/home/u/Budget \"2005\".xls\nhttp://example.org/\n");
  EXPECT_EQ(d.searchKeys,
            "0\n\"Budget  2005 .xls\"\n{01234567-89AB-CDEF-0123-456789ABCDEF}\n"
            "1\n\"Example\"\n{00000000-0000-0000-0000-000000000000}\n");
  std::vector<SearchKeyItem> back;
  ASSERT_EQ(ReadSearchKeyList(d.searchKeys, back), S_OK);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_TRUE(back[0].hasKey);
  EXPECT_FALSE(back[1].hasKey);
  // A mail row adds its key but no address.
  const std::vector<DragItem> mail = {{ItemKind::Mail, "outlook:00AB", "", "Re: x", key}};
  EXPECT_EQ(MakeDragData(mail).uriList, "");
  EXPECT_EQ(MakeDragData(mail).searchKeys.substr(0, 2), "2\n");
}

}  // namespace
}  // namespace qv::client
