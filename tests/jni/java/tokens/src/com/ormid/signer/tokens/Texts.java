package com.ormid.signer.tokens;

import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.function.Executable;

/** Catalogue texts (Russian, the default language) the tests expect; the confirmation token suite uses them too. */
public final class Texts {
    public static final String KEYSTORE_NOT_SELECTED = "Хранилище ключей не выбрано";
    public static final String KEY_NOT_FOUND = "Ключ ЭП не найден";
    public static final String CERTIFICATE_NOT_FOUND = "Сертификат ключа не найден";
    public static final String PIN_BLOCKED =
        "Превышено установленное ограничение количества неудачных попыток ввода PIN-кода";
    public static final String PASSWORD_REQUIRED = "Требуется ввод пароля";
    public static final String KEY_ID_ALREADY_SET = "Идентификатор ключа ЭП уже установлен";
    public static final String WRONG_KEY_FOR_CERTIFICATE = "Закрытый ключ не соответствует открытому ключу в сертификате";
    public static final String INVALID_ALIAS = "Имя ключа ЭП содержит недопустимый символ";
    public static final String NOT_IMPLEMENTED = "Функция не реализована";

    private Texts() {}

    public static String missingDevice(String id) {
        return "Отсутствует аппаратное устройство с серийным номером \"" + id + "\"";
    }

    public static String wrongPassword(int triesLeft) {
        return "Пароль введен неверно. Осталось " + triesLeft + " попыток ввода";
    }

    public static String invalidAliasSymbol(String symbol) {
        return "Имя ключа ЭП содержит недопустимый символ \"" + symbol + "\"";
    }

    /** The message of the RuntimeException the call must raise. */
    public static String errorOf(Executable call) {
        return assertThrows(RuntimeException.class, call).getMessage();
    }
}
