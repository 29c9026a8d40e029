#include "registry_script.h"

#include <gtest/gtest.h>

using tolvane::ParseRegistryScript;
using tolvane::RegistryScriptKey;

namespace {

const char kClassScript[] = R"(HKCR
{
	Thing.Thing.1 = s 'Thing Class'
	{
		CLSID = s '{11111111-2222-3333-4444-555555555555}'
	}
	NoRemove CLSID
	{
		ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Thing Class'
		{
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
				val Count = d '42'
			}
			'TypeLib' = s 'it''s quoted'
		}
	}
}
)";

}  // namespace

TEST(RegistryScript, ParsesKeysFlagsValuesAndSubstitutesTheModule) {
    std::string error;
    auto script = ParseRegistryScript(kClassScript, {{"MODULE", "C:\\Program Files\\x.dll"}}, &error);
    ASSERT_TRUE(script) << error;
    ASSERT_EQ(1u, script->roots.size());
    const auto& root = script->roots[0];
    EXPECT_EQ("HKCR", root.root);
    ASSERT_EQ(2u, root.keys.size());

    const auto& progId = root.keys[0];
    EXPECT_EQ("Thing.Thing.1", progId.name);
    ASSERT_TRUE(progId.defaultValue);
    EXPECT_EQ("Thing Class", progId.defaultValue->data);
    ASSERT_EQ(1u, progId.subkeys.size());
    ASSERT_TRUE(progId.subkeys[0].defaultValue);
    EXPECT_EQ("{11111111-2222-3333-4444-555555555555}", progId.subkeys[0].defaultValue->data);

    const auto& clsid = root.keys[1];
    EXPECT_EQ(RegistryScriptKey::Flag::NoRemove, clsid.flag);
    ASSERT_EQ(1u, clsid.subkeys.size());
    const auto& cls = clsid.subkeys[0];
    EXPECT_EQ("{11111111-2222-3333-4444-555555555555}", cls.name);
    EXPECT_EQ(RegistryScriptKey::Flag::ForceRemove, cls.flag);
    ASSERT_EQ(3u, cls.subkeys.size());
    EXPECT_EQ("Programmable", cls.subkeys[0].name);
    EXPECT_FALSE(cls.subkeys[0].defaultValue);
    const auto& server = cls.subkeys[1];
    ASSERT_TRUE(server.defaultValue);
    EXPECT_EQ("C:\\Program Files\\x.dll", server.defaultValue->data);
    ASSERT_EQ(2u, server.values.size());
    EXPECT_EQ("ThreadingModel", server.values[0].name);
    EXPECT_EQ("Apartment", server.values[0].data);
    EXPECT_EQ('d', server.values[1].type);
    EXPECT_EQ("42", server.values[1].data);
    ASSERT_TRUE(cls.subkeys[2].defaultValue);
    EXPECT_EQ("it's quoted", cls.subkeys[2].defaultValue->data);
}

TEST(RegistryScript, RejectsMalformedText) {
    const char* broken[] = {
        "HKCR {",                          // unclosed
        "HKCR { Key = s 'unterminated }",  // string runs off the end
        "HKCR { Key = x 'bad type' }",     // unknown value type
        "HKCR { { } }",                    // block without a key
        "HKCR { val V = s 'x' }",          // value with no key to own it
    };
    for (const char* text : broken) {
        std::string error;
        EXPECT_FALSE(ParseRegistryScript(text, {}, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(RegistryScript, RefusesNestingDeeperThanAnyScriptWithoutExhaustingTheStack) {
    auto nested = [](int depth) {
        std::string text = "HKCR { ";
        for (int i = 0; i < depth; ++i) text += "K { ";
        return text + std::string(depth, '}') + " }";
    };
    std::string error;
    EXPECT_TRUE(ParseRegistryScript(nested(64), {}, &error)) << error;
    EXPECT_FALSE(ParseRegistryScript(nested(100000), {}, &error));
    EXPECT_NE(std::string::npos, error.find("nested too deep")) << error;
}
