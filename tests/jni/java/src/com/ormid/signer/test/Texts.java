package com.ormid.signer.test;

import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.function.Executable;

/** Catalogue texts the tests expect, and a helper for the error message of a call. */
final class Texts {
    static final String NOT_RECOGNIZED_RU = "Сессия не распознана или уже закрыта";
    static final String NOT_RECOGNIZED_EN = "Session is not recognized or already closed";
    static final String KEYSTORE_NOT_SELECTED_RU = "Хранилище ключей не выбрано";
    static final String KEYSTORE_NOT_SELECTED_EN = "Keystore not selected";
    static final String KEY_NOT_SELECTED_RU = "Ключ ЭП не выбран";
    static final String EMPTY_EXT_KEY_ID_RU = "Не заполнен идентификатор ключа ЭП";
    static final String DIGEST_NOT_INITIALIZED_RU = "Контекст хэш-функции не инициализирован";
    static final String NOT_IMPLEMENTED_RU = "Функция не реализована";
    static final String EMPTY_DATA_RU = "Пустые данные";
    static final String LONE_SURROGATE_RU =
        "Текст содержит половину суррогатной пары UTF-16 без второй половины или код вне Юникода";

    private Texts() {}

    /** The message of the RuntimeException the call must raise. */
    static String errorOf(Executable call) {
        return assertThrows(RuntimeException.class, call).getMessage();
    }
}
