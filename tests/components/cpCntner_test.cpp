// Named containers and the keyed dictionary: unique names without regard to
// case, reserved names, item and component names kept in step, ownership.
#include "cpCntner.h"

#include <gtest/gtest.h>

#include <QPointer>

#include "clCollEx.h"

class TTestItem : public TZelContainerItem {
  Q_OBJECT

 public:
  Q_INVOKABLE explicit TTestItem(QObject* owner) : TZelContainerItem(owner) {}
  QString NamePrefix() const override { return "Lang"; }
  QString NameSuffix() const override { return "Section"; }
};

class TTestContainer : public TZelContainer {
  Q_OBJECT

 public:
  explicit TTestContainer(QObject* owner) : TZelContainer(owner) {
    setObjectName("Language");
    InternalNamesRef() << "MessageDialog";
  }
  const QMetaObject* ItemClass() const override { return &TTestItem::staticMetaObject; }
};

namespace {

class ContainerTest : public ::testing::Test {
 protected:
  TTestItem* Item(const QString& name) {
    auto* item = new TTestItem(&window_);
    item->setObjectName(QString("Item%1").arg(++made_));
    item->SetItemName(name);
    return item;
  }
  int made_ = 0;
  QObject window_;
  TTestContainer* container_ = new TTestContainer(&window_);
};

template <typename F>
QString ErrorOf(F&& f) {
  try {
    f();
  } catch (const EZelError& e) {
    return e.Message();
  }
  return "(no error)";
}

TEST_F(ContainerTest, NamesAreUniqueWithoutRegardToCase) {
  TTestItem* first = Item("Menu");
  container_->AddItem(first);
  TTestItem* second = Item("MENU");
  EXPECT_EQ(ErrorOf([&] { container_->AddItem(second); }),
            "Item <MENU> already exists in container <Language>");
  EXPECT_EQ(container_->Count(), 1);
  EXPECT_EQ(second->Container(), nullptr);
  EXPECT_EQ(container_->IndexOfItem("menu"), 0);
  EXPECT_EQ(container_->IndexOfItem("Other"), -1);
  EXPECT_EQ(ErrorOf([&] { container_->RemoveItem(second); }),
            "Item <MENU> not found in container <Language>");
}

TEST_F(ContainerTest, RenameChecksInTheGivenOrder) {
  container_->AddItem(Item("A"));
  container_->AddItem(Item("B"));
  EXPECT_EQ(ErrorOf([&] { container_->RenameItem("Missing", "messagedialog"); }),
            "This name is for internal use only: messagedialog");
  EXPECT_EQ(ErrorOf([&] { container_->RenameItem("Missing", "b"); }),
            "Item <b> already exists in container <Language>");
  EXPECT_EQ(ErrorOf([&] { container_->RenameItem("Missing", "C"); }),
            "Item <Missing> not found in container <Language>");
  container_->RenameItem("a", "C");
  EXPECT_EQ(container_->Items(0)->ItemName(), "C");
  container_->RenameItem("C", "c");  // a change of case renames in place
  EXPECT_EQ(container_->Items(0)->ItemName(), "c");
}

TEST_F(ContainerTest, ReservedNamesOnlyWhileTheContainerAllowsThem) {
  bool created = false;
  EXPECT_EQ(ErrorOf([&] { container_->FindOrCreateItem("MessageDialog", created); }),
            "This name is for internal use only: MessageDialog");
  EXPECT_EQ(container_->Count(), 0);
  container_->SetAllowInternal(true);
  TZelContainerItem* item = container_->FindOrCreateItem("MessageDialog", created);
  container_->SetAllowInternal(false);
  EXPECT_TRUE(created);
  EXPECT_EQ(item->objectName(), "LangMessageDialog");
  EXPECT_EQ(item->parent(), &window_);  // owned by the container's owner
  EXPECT_EQ(container_->FindOrCreateItem("messagedialog", created), item);
  EXPECT_FALSE(created);
}

TEST_F(ContainerTest, DuplicateComponentNameFailsBeforeTheItemIsListed) {
  QObject other(&window_);
  other.setObjectName("LangTools");
  bool created = false;
  EXPECT_EQ(ErrorOf([&] { container_->FindOrCreateItem("Tools", created); }),
            "A component named LangTools already exists");
  EXPECT_EQ(container_->Count(), 0);
}

TEST_F(ContainerTest, ItemNameKeepsAPrefixedComponentNameInStep) {
  bool created = false;
  auto* item = container_->FindOrCreateItem("X", created);
  item->SetItemName("Y");
  EXPECT_EQ(item->objectName(), "LangY");
  EXPECT_EQ(container_->IndexOfItem("Y"), 0);
  item->setObjectName("Custom");
  item->SetItemName("Z");
  EXPECT_EQ(item->objectName(), "Custom");
  EXPECT_EQ(item->ItemName(), "Z");
}

TEST_F(ContainerTest, ContainerPropertyMovesTheItemBetweenContainers) {
  auto* other = new TTestContainer(&window_);
  TTestItem* item = Item("A");
  item->SetContainer(container_);
  EXPECT_EQ(container_->Count(), 1);
  item->SetContainer(other);
  EXPECT_EQ(container_->Count(), 0);
  EXPECT_EQ(other->Items(0), item);
  item->SetContainer(nullptr);
  EXPECT_EQ(other->Count(), 0);
}

TEST_F(ContainerTest, DestroyingItemsAndContainers) {
  bool created = false;
  QPointer<TZelContainerItem> a = container_->FindOrCreateItem("A", created);
  QPointer<TZelContainerItem> b = container_->FindOrCreateItem("B", created);
  delete a.data();
  EXPECT_EQ(container_->Count(), 1);
  EXPECT_EQ(container_->Items(0), b);
  delete container_;
  EXPECT_TRUE(b.isNull());
}

TEST_F(ContainerTest, DestroyingTheOwnerInAnyOrderIsSafe) {
  auto* owner = new QObject;
  auto* container = new TTestContainer(owner);
  bool created = false;
  for (const char* name : {"A", "B", "C"}) container->FindOrCreateItem(name, created);
  delete owner;  // items and container die in the owner's child order
  SUCCEED();
}

TEST(Dictionary, KeysAreUniqueAndCaseSensitive) {
  TZelDictionary dictionary;
  TZelItem* caption = dictionary.AddKey("Caption");
  EXPECT_EQ(ErrorOf([&] { dictionary.AddKey("Caption"); }), "Key already exists in the dictionary");
  EXPECT_EQ(dictionary.FindKey("Caption"), caption);
  EXPECT_EQ(dictionary.FindKey("caption"), nullptr);
  EXPECT_FALSE(dictionary.ContainsKey("CAPTION"));
  dictionary.AddKey("caption");
  EXPECT_EQ(dictionary.Count(), 2);
}

TEST(Dictionary, AssigningAKeyThatIsTakenAddsTheFirstFreeNumber) {
  TZelDictionary dictionary;
  dictionary.AddKey("K");
  dictionary.AddKey("K2");
  TZelItem* target = dictionary.AddKey("Other");
  TZelItem source;
  source.SetKey("K");
  target->Assign(source);
  EXPECT_EQ(target->Key(), "K3");
  target->Assign(*target);  // its own key is no clash
  EXPECT_EQ(target->Key(), "K3");
  TZelItem loose;
  loose.Assign(source);
  EXPECT_EQ(loose.Key(), "K");
  struct TOther : TZelCollectionItem {};
  EXPECT_THROW(loose.Assign(TOther()), ECollExError);
}

TEST(Dictionary, ItemsOwnTheirObjects) {
  static int alive = 0;
  struct TCounted : TZelObject {
    TCounted() { ++alive; }
    ~TCounted() override { --alive; }
  };
  {
    TZelDictionary dictionary;
    dictionary.AddKey("a")->SetObject(std::make_unique<TCounted>());
    dictionary.AddKey("b")->SetObject(std::make_unique<TCounted>());
    EXPECT_EQ(alive, 2);
  }
  EXPECT_EQ(alive, 0);
}

}  // namespace

#include "cpCntner_test.moc"
