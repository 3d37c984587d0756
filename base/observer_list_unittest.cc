#include "base/observer_list.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

class Observer {
 public:
  virtual ~Observer() = default;
  virtual void OnEvent(int value) = 0;
};

using List = ObserverList<Observer>;

// Records its calls and optionally does something to the list from inside one.
class Recorder : public Observer {
 public:
  Recorder(std::string* log, char name) : log_(log), name_(name) {}
  void OnEvent(int) override {
    *log_ += name_;
    if (action)
      action();
  }
  std::function<void()> action;

 private:
  std::string* log_;
  char name_;
};

void AddAll(List* list, std::initializer_list<Observer*> observers) {
  for (Observer* observer : observers)
    list->AddObserver(observer);
}

TEST(ObserverListTest, NotifiesInOrderAndIgnoresDuplicates) {
  std::string log;
  Recorder a(&log, 'a'), b(&log, 'b');
  List list;
  AddAll(&list, {&a, &b, &a});
  list.Notify(&Observer::OnEvent, 1);
  EXPECT_EQ("ab", log);
  list.RemoveObserver(&a);
  list.RemoveObserver(&a);
  list.Notify(&Observer::OnEvent, 1);
  EXPECT_EQ("abb", log);
}

TEST(ObserverListTest, ChangesDuringNotification) {
  struct Case {
    const char* what;
    List::NotificationType type;
    const char* first_pass;
    const char* second_pass;
  };
  // a removes c, and adds d, during the first pass.
  const Case cases[] = {
      {"notify all", List::NOTIFY_ALL, "abd", "abd"},
      {"existing only", List::NOTIFY_EXISTING_ONLY, "ab", "abd"},
  };
  for (const Case& c : cases) {
    std::string log;
    Recorder a(&log, 'a'), b(&log, 'b'), rc(&log, 'c'), d(&log, 'd');
    List list(c.type);
    AddAll(&list, {&a, &b, &rc});
    a.action = [&] {
      list.RemoveObserver(&rc);
      list.AddObserver(&d);
      EXPECT_FALSE(list.HasObserver(&rc));
    };
    list.Notify(&Observer::OnEvent, 1);
    EXPECT_EQ(c.first_pass, log) << c.what;
    a.action = nullptr;
    log.clear();
    list.Notify(&Observer::OnEvent, 2);
    EXPECT_EQ(c.second_pass, log) << c.what;
  }
}

TEST(ObserverListTest, RemovalOfSelfAndNestedNotification) {
  std::string log;
  Recorder a(&log, 'a'), b(&log, 'b'), rc(&log, 'c');
  List list;
  AddAll(&list, {&a, &b, &rc});
  bool nested = false;
  b.action = [&] {
    list.RemoveObserver(&b);
    if (!nested) {
      nested = true;
      list.Notify(&Observer::OnEvent, 2);  // compacts nothing while the outer pass runs
    }
  };
  list.Notify(&Observer::OnEvent, 1);
  EXPECT_EQ("abacc", log);
  log.clear();
  list.Notify(&Observer::OnEvent, 3);
  EXPECT_EQ("ac", log);
  list.AddObserver(&b);  // re-adding after compaction appends at the end
  log.clear();
  list.Notify(&Observer::OnEvent, 4);
  EXPECT_EQ("acb", log);
}

TEST(ObserverListTest, ListDestroyedDuringNotification) {
  std::string log;
  Recorder a(&log, 'a'), b(&log, 'b');
  auto list = std::make_unique<List>();
  AddAll(list.get(), {&a, &b});
  a.action = [&] { list.reset(); };
  List::Iter it(list.get());
  while (Observer* observer = it.GetNext())
    observer->OnEvent(0);
  EXPECT_EQ("a", log);
  EXPECT_EQ(nullptr, it.GetNext());
}

TEST(ObserverListTest, HasObserversIgnoresRemovedEntries) {
  std::string log;
  Recorder a(&log, 'a');
  List list;
  EXPECT_FALSE(list.HasObservers());
  list.AddObserver(&a);
  a.action = [&] {
    list.RemoveObserver(&a);
    EXPECT_FALSE(list.HasObservers());
  };
  list.Notify(&Observer::OnEvent, 1);
  EXPECT_FALSE(list.HasObservers());
  list.AddObserver(&a);
  a.action = [&] { list.Clear(); };
  list.Notify(&Observer::OnEvent, 1);
  EXPECT_FALSE(list.HasObservers());
}

}  // namespace
}  // namespace base
