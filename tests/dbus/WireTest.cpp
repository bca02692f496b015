#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <gtest/gtest.h>

namespace raduvuz::test {
namespace {

TEST(WireTest, ValuesTravelAsTheirOwnTypesAndNullAsAnEmptyArrayVariant) {
    const QVariant null = ToWire(TNull{});
    ASSERT_EQ(null.metaType(), QMetaType::fromType<QDBusVariant>());
    EXPECT_EQ(qvariant_cast<QDBusVariant>(null).variant().metaType(),
              QMetaType::fromType<QVariantList>());
    EXPECT_TRUE(qvariant_cast<QDBusVariant>(null).variant().toList().isEmpty());
    EXPECT_EQ(ToWire(int32_t{5}).metaType(), QMetaType::fromType<int>());
    EXPECT_EQ(ToWire(true).metaType(), QMetaType::fromType<bool>());
    EXPECT_EQ(ToWire(std::string("a")).toString(), QStringLiteral("a"));
    const QVariant wrapped = ToWireVariant(int32_t{9});
    ASSERT_EQ(wrapped.metaType(), QMetaType::fromType<QDBusVariant>());
    EXPECT_EQ(qvariant_cast<QDBusVariant>(wrapped).variant().toInt(), 9);
}

TEST(WireTest, ReceivedValuesBecomeAutomationValues) {
    EXPECT_TRUE(IsNull(FromWire(QVariant())));
    EXPECT_TRUE(IsNull(FromWire(NullOnWire())));
    EXPECT_EQ(VariantToInt(FromWire(QVariant::fromValue(QDBusVariant(QVariant(7))))), 7);
    EXPECT_EQ(VariantToInt(FromWire(QVariant(static_cast<uint>(8)))), 8);
    EXPECT_EQ(VariantToInt(FromWire(QVariant(static_cast<qlonglong>(-9)))), -9);
    EXPECT_TRUE(
        std::holds_alternative<double>(FromWire(QVariant(static_cast<qlonglong>(1) << 40))));
    EXPECT_EQ(VariantToInt(FromWire(QVariant(static_cast<short>(3)))), 3);
    EXPECT_EQ(std::get<bool>(FromWire(QVariant(true))), true);
    EXPECT_EQ(std::get<double>(FromWire(QVariant(1.5))), 1.5);
    EXPECT_EQ(std::get<std::string>(FromWire(QVariant(QStringLiteral("ü")))), "ü");
    EXPECT_EQ(std::get<std::string>(
                  FromWire(QVariant::fromValue(QDBusObjectPath(QStringLiteral("/a/b"))))),
              "/a/b");
    EXPECT_THROW(FromWire(QVariant(QStringList{QStringLiteral("x")})), TDispatchError);
    EXPECT_THROW(FromWire(QVariant(QVariantList{QVariant(1)})), TDispatchError);
}

TEST(WireTest, ReferencesSplitAtTheFirstSlash) {
    TDispatchPtr object = TDBusObject::FromReference(":1.17/Workflow/inner");
    EXPECT_EQ(object->Reference(), ":1.17/Workflow/inner");
    EXPECT_THROW(TDBusObject::FromReference("no-slash"), TDispatchError);
    EXPECT_THROW(TDBusObject::FromReference("/only/path"), TDispatchError);
    EXPECT_EQ(TDBusObject::PendingCalls(), 0);
}

} // namespace
} // namespace raduvuz::test
