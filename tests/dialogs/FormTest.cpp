// Forms as property sheets: Left and Right on the tabs turn the page, Up and Down reach
// only the shown page's fields, values come back from every page, and a page longer
// than the screen scrolls to keep the focus in view.
#include "dialogs/Form.h"

#include "DialogTestSupport.h"

namespace kelp::test {
namespace {

class FormTest : public DialogTest {
 protected:
  bool run(const Form& form, FormValues& values, const std::string& keys) {
    script(keys);
    const bool done = runForm(desktop, form, values);
    noProblems();
    return done;
  }
};

TEST_F(FormTest, PagesTurnAndKeepTheirValues) {
  Form form{u"Sheet", {}, nullptr, nullptr, {}};
  form.pages.push_back({u"One", {textField(10, u"Name:"), checkField(11, u"Bold")}});
  std::vector<Field> many;
  for (int i = 0; i < 12; ++i) many.push_back(textField(20 + i, u"Line " + std::u16string(1, u'A' + i) + u":"));
  form.pages.push_back({u"Two", many});

  FormValues values;
  values.text[10] = u"start";
  // Down from the tabs reaches page one's field; Right turns to page two, whose twelfth
  // field lies below the screen until the focus reaches it.
  EXPECT_TRUE(run(form, values,
                  "key Down\ntext first\nkey Up\nkey Right\n"
                      "key Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\n"
                      "key Down\nkey Down\nkey Down\nkey Down\ntext last\nsoft1\n"));
  EXPECT_EQ(values.text[10], u"first");
  EXPECT_EQ(values.text[31], u"last");
  EXPECT_EQ(values.page, 1);
  EXPECT_TRUE(saw(u"last"));
  EXPECT_FALSE(values.check[11]);

  // The sheet opens on the page it is given; Up from the tabs wraps to the page's last
  // field, never to a field of another page.
  values.page = 0;
  EXPECT_TRUE(run(form, values, "key Up\nkey Enter\nkey Up\nkey End\ntext !\nkey Up\nkey Left\nkey Left\nsoft1\n"));
  EXPECT_TRUE(values.check[11]);
  EXPECT_EQ(values.text[10], u"first!");
  EXPECT_EQ(values.text[31], u"last");
  EXPECT_EQ(values.page, 0);
}

}  // namespace
}  // namespace kelp::test
