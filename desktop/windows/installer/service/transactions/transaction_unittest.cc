#include "desktop/windows/installer/service/transactions/transaction.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace installer {
namespace {

typedef std::vector<std::string> Journal;

// Records every call in a shared journal as "<name>.<call>".
class RecordingOperation : public TransactionOperation {
 public:
  RecordingOperation(const std::string& name, Journal* journal, bool succeeds = true)
      : name_(name), journal_(journal), succeeds_(succeeds) {}
  ~RecordingOperation() override { journal_->push_back(name_ + ".destroy"); }

  // Preparations run on the nested transaction inside Do.
  void AddPreparation(std::unique_ptr<TransactionOperation> preparation) {
    preparations_.push_back(std::move(preparation));
  }

  bool Do(Transaction& nested) override {
    journal_->push_back(name_ + ".do");
    for (auto& preparation : preparations_) {
      if (!nested.Execute(std::move(preparation)))
        return false;
    }
    return succeeds_;
  }
  void Rollback() override { journal_->push_back(name_ + ".rollback"); }

 private:
  std::string name_;
  Journal* journal_;
  bool succeeds_;
  std::vector<std::unique_ptr<TransactionOperation>> preparations_;
};

std::unique_ptr<RecordingOperation> Op(const std::string& name, Journal* journal,
                                       bool succeeds = true) {
  return std::make_unique<RecordingOperation>(name, journal, succeeds);
}

// A failure undoes the operation and its preparations newest first; a failed
// preparation has undone itself before its operation does.
TEST(TransactionTest, FailureUndoesTheOperationAndItsPreparations) {
  const struct {
    bool op_succeeds, prep2_succeeds;
    Journal expected;
  } cases[] = {
      {false, true, {"op.do", "prep1.do", "prep2.do", "op.rollback", "prep2.rollback",
                     "prep1.rollback", "prep1.destroy", "prep2.destroy", "op.destroy"}},
      {true, false, {"op.do", "prep1.do", "prep2.do", "prep2.rollback", "prep2.destroy",
                     "op.rollback", "prep1.rollback", "prep1.destroy", "op.destroy"}},
  };
  for (const auto& c : cases) {
    Journal journal;
    Transaction transaction;
    auto op = Op("op", &journal, c.op_succeeds);
    op->AddPreparation(Op("prep1", &journal));
    op->AddPreparation(Op("prep2", &journal, c.prep2_succeeds));
    EXPECT_FALSE(transaction.Execute(std::move(op)));
    EXPECT_EQ(c.expected, journal);
    EXPECT_TRUE(transaction.empty());
  }
}

TEST(TransactionTest, RollbackUndoesNewestFirstWithPreparationsAfterTheirOperation) {
  Journal journal;
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.Execute(Op("a", &journal)));
    auto b = Op("b", &journal);
    b->AddPreparation(Op("b.prep", &journal));
    ASSERT_TRUE(transaction.Execute(std::move(b)));
    journal.clear();
    transaction.Rollback();
    EXPECT_EQ((Journal{"b.rollback", "b.prep.rollback", "a.rollback", "a.destroy",
                       "b.prep.destroy", "b.destroy"}),
              journal);
    EXPECT_TRUE(transaction.empty());
    journal.clear();
  }
  EXPECT_TRUE(journal.empty()) << "a rolled-back transaction has nothing to commit";
}

TEST(TransactionTest, DestructionCommitsOldestFirstWithoutRollback) {
  Journal journal;
  {
    Transaction transaction;
    auto a = Op("a", &journal);
    a->AddPreparation(Op("a.prep", &journal));
    ASSERT_TRUE(transaction.Execute(std::move(a)));
    ASSERT_TRUE(transaction.Execute(Op("b", &journal)));
    journal.clear();
  }
  EXPECT_EQ((Journal{"a.prep.destroy", "a.destroy", "b.destroy"}), journal);
}

TEST(TransactionTest, RolledBackTransactionIsReusableAndCommitsOnlyNewOperations) {
  Journal journal;
  {
    Transaction transaction;
    transaction.Rollback();  // empty: nothing happens
    EXPECT_TRUE(journal.empty());
    ASSERT_TRUE(transaction.Execute(Op("old", &journal)));
    transaction.Rollback();
    ASSERT_TRUE(transaction.Execute(Op("new", &journal)));
    journal.clear();
  }
  EXPECT_EQ((Journal{"new.destroy"}), journal);
}

TEST(TransactionTest, FailedExecuteLeavesEarlierOperationsUntouched) {
  Journal journal;
  Transaction transaction;
  ASSERT_TRUE(transaction.Execute(Op("a", &journal)));
  journal.clear();
  EXPECT_FALSE(transaction.Execute(Op("b", &journal, false)));
  EXPECT_EQ((Journal{"b.do", "b.rollback", "b.destroy"}), journal);
  journal.clear();
  transaction.Rollback();
  EXPECT_EQ((Journal{"a.rollback", "a.destroy"}), journal);
}

}  // namespace
}  // namespace installer
