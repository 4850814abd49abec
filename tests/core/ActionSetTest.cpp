#include "core/ActionSet.h"

#include <gtest/gtest.h>

namespace zo {
namespace {

TEST(ActionSet, IsOneByteMemberNAtBitN) {
  static_assert(sizeof(TMTSActionType) == 1);
  TMTSActionType set;
  EXPECT_TRUE(set.Empty());
  set.Include(mtaInsert);
  EXPECT_EQ(set.Byte(), 1);
  set.Include(mtaDelete);
  EXPECT_EQ(set.Byte(), 5);
  EXPECT_TRUE(set.Contains(mtaDelete));
  EXPECT_FALSE(set.Contains(mtaUpdate));
  set.Exclude(mtaInsert);
  EXPECT_EQ(set, TMTSActionType{mtaDelete});
  EXPECT_EQ((TMTSActionType{mtaInsert, mtaDelete} + TMTSActionType{mtaRead}).Byte(), 1 | 4 | 8);
  EXPECT_EQ((TMTSActionType{mtaInsert, mtaDelete} - TMTSActionType{mtaInsert}).Byte(), 4);
  EXPECT_EQ((TMTSActionType{mtaInsert, mtaDelete} * TMTSActionType{mtaDelete, mtatUnknown}).Byte(), 4);
  EXPECT_TRUE(TMTSActionType::FromByte(32).Contains(mtatUnknown));
}

}  // namespace
}  // namespace zo
