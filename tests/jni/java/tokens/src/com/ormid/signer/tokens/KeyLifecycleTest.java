package com.ormid.signer.tokens;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.entities.KeyInfo;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;

/** Keys through the Java API on each make: create, list, select, rename, number, passwords, delete. */
class KeyLifecycleTest {
    private static final String RSA = "1.2.840.113549.1.1.1";

    @AfterAll
    static void sweep() {
        for (Make make : Make.values()) {
            Token.sweep(make);
        }
    }

    private static List<String> aliases(Token token) {
        return Arrays.stream(Session.listKeys(token.s)).map(key -> key.alias).collect(Collectors.toList());
    }

    /** Kinds a make does not list, and RSA (the Java API gives no modulus size, so no token makes one). */
    static Stream<Arguments> refused() {
        return Stream.of(Arguments.of(Make.RUTOKEN, Make.Kind.TC26_A.signAlgorithm(), Make.Kind.TC26_A.paramSet),
                         Arguments.of(Make.RUTOKEN, Make.Kind.C512.signAlgorithm(), Make.Kind.C512.paramSet),
                         Arguments.of(Make.RUTOKEN, RSA, ""),
                         Arguments.of(Make.ANGARA, RSA, ""),
                         Arguments.of(Make.JACARTA, Make.Kind.B.signAlgorithm(), Make.Kind.B.paramSet),
                         Arguments.of(Make.JACARTA, Make.Kind.XB.signAlgorithm(), Make.Kind.XB.paramSet),
                         Arguments.of(Make.JACARTA, Make.Kind.A512.signAlgorithm(), Make.Kind.A512.paramSet),
                         Arguments.of(Make.JACARTA, RSA, ""));
    }

    @ParameterizedTest(name = "{0} {1} {2}")
    @MethodSource("refused")
    void keysTheMakeCannotHoldAreRefusedAndLeaveNothingBehind(Make make, String algorithm, String paramSet) {
        try (Token token = Token.open(make, false)) {
            List<String> before = aliases(token);
            String alias = Token.newAlias();
            errorOf(() -> Session.createNewKey(token.s, alias, 1, algorithm, paramSet, Token.PASSWORD));
            assertEquals(before, aliases(token));
        }
    }

    @ParameterizedTest
    @EnumSource(Make.class)
    void keyLivesFromCreationToDeletion(Make make) {
        String alias = Token.newAlias();
        String renamed = Token.PREFIX + "Ключ «платёжный» " + Tools.unique();
        String newPassword = "Новый пароль 2";
        try (Token token = Token.open(make, false)) {
            KeyInfo created = token.createKey(alias, Make.Kind.A);
            assertEquals(7, created.systemId);
            assertEquals("0", created.id);
            assertTrue(created.hasPassword);
            assertTrue(aliases(token).contains(alias));
            assertEquals(alias, Session.setKey(token.s, "  " + alias + " ").alias, "the alias is trimmed");

            assertAll(Stream.of("\t", "©").map(symbol -> () -> assertEquals(
                Texts.invalidAliasSymbol(symbol), errorOf(() -> Session.changeKeyAlias(token.s, "bad" + symbol + "name")),
                "the forbidden symbol is named")));
            // Aliases are ASCII and two-byte UTF-8 (Cyrillic): a three-byte character is refused without a symbol.
            assertEquals(Texts.INVALID_ALIAS, errorOf(() -> Session.changeKeyAlias(token.s, "Платёж №1")));
            Session.changeKeyAlias(token.s, renamed);
            List<String> listed = aliases(token);
            assertTrue(listed.contains(renamed), listed.toString());
            assertFalse(listed.contains(alias), listed.toString());

            Session.setKeyId(token.s, "18446744073709551615");
            assertEquals("18446744073709551615", Session.getKeyInfo(token.s).id);
            assertEquals(Texts.KEY_ID_ALREADY_SET, errorOf(() -> Session.setKeyId(token.s, "5")));
        }

        // A new session knows no password: a wrong one costs a try, the right one resets the count.
        try (Token token = Token.open(make, false)) {
            KeyInfo key = Session.setKey(token.s, renamed);
            assertEquals("18446744073709551615", key.id);
            assertEquals(Texts.PASSWORD_REQUIRED, errorOf(() -> Session.rawSign(token.s, new byte[] {1})));
            assertEquals(Texts.wrongPassword(15), errorOf(() -> Session.setKeyPassword(token.s, "не тот")));
            assertEquals(Texts.wrongPassword(14), errorOf(() -> Session.setKeyPassword(token.s, "не тот")));
            Session.setKeyPassword(token.s, Token.PASSWORD);
            assertEquals(Texts.wrongPassword(15), errorOf(() -> Session.setKeyPassword(token.s, "не тот")));
            Session.setKeyPassword(token.s, Token.PASSWORD);
            Session.changeKeyPassword(token.s, newPassword);
        }

        try (Token token = Token.open(make, false)) {
            Session.setKey(token.s, renamed);
            errorOf(() -> Session.setKeyPassword(token.s, Token.PASSWORD));
            Session.setKeyPassword(token.s, newPassword);
            Session.rawSign(token.s, new byte[] {1});
            Session.deleteKey(token.s);
            assertFalse(aliases(token).contains(renamed));
            assertEquals(Texts.KEY_NOT_FOUND, errorOf(() -> Session.getKeyInfo(token.s)));
        }
    }
}
