package com.ormid.signer.cli;

import java.util.List;
import java.util.regex.Pattern;
import java.util.stream.Collectors;

/**
 * Exit status of the tool, one per class of failure. A failure of the library reaches Java as a
 * {@link RuntimeException} that carries only the catalogue text in the language in force, so the class is found by
 * matching that text against the catalogue texts of both languages.
 */
public enum ExitCode {
    /** The command did what was asked. */
    OK(0, "ok", "success"),
    /** The command line is wrong: unknown command or option, a value missing, no file given. */
    USAGE(1, "usage", "wrong command line"),
    /** Verification ran and the signature does not match the content or the key. */
    INVALID_SIGNATURE(2, "invalid-signature", "the signature is invalid"),
    /** The PIN or key password was refused (wrong, or of a length the device does not take). */
    WRONG_PIN(3, "wrong-pin", "wrong PIN or password",
              "Пароль введен неверно*", "Incorrect password*", "Функции передан неверный PIN-код",
              "Wrong PIN-code passed to function", "PIN-код недопустимой длины", "Invalid PIN-code length",
              "Недопустимая длина PIN-кода", "Значение PIN-кода содержит недопустимые символы",
              "PIN-code value has invalid character"),
    /** No tries are left: the PIN or the key is blocked. */
    BLOCKED(4, "blocked", "PIN or key blocked", "Истекло число попыток ввода пароля. Ключ блокирован",
            "Password attempts have expired. Key is blocked",
            "Превышено установленное ограничение количества неудачных попыток ввода PIN-кода",
            "PIN-code attempts have expired"),
    /** A PIN or password is needed and none could be read (no terminal and no environment variable). */
    PIN_REQUIRED(5, "pin-required", "PIN or password required", "Требуется ввод PIN-кода", "PIN-code required",
                 "Требуется ввод пароля", "Password required",
                 "Действие не может быть выполнено, т.к. пользователь не залогинен",
                 "The action cannot be performed because the user is not logged in"),
    /** The device or key store is not there (not plugged in, taken out during the call). */
    DEVICE_NOT_FOUND(6, "device-not-found", "device not found", "Устройство не найдено", "Device not found",
                     "Отсутствует аппаратное устройство с серийным номером *",
                     "Hardware device with serial number * is not present",
                     "При выполнении функции устройство было отключено",
                     "The device was disconnected during function execution",
                     "В момент выполнения функции устройство было отключено",
                     "During function execution device was disconnect"),
    /** The key or its certificate is not in the store. */
    KEY_NOT_FOUND(7, "key-not-found", "key or certificate not found", "Ключ ЭП не найден", "DS key not found",
                  "Ключ ЭП не выбран", "DS key not selected", "Сертификат ключа не найден",
                  "Key certificate not found"),
    /** The user refused the operation on the device. */
    CANCELLED(8, "cancelled", "cancelled by the user", "Пользователь отказался от выполнения операции",
              "User canceled operation", "Запрос ЭП отклонён пользователем", "DS request is canceled by user"),
    /** A file could not be read or written. */
    FILE_ERROR(9, "file-error", "file not readable or not writable"),
    /** The crypto means is missing or unsupported: module not loadable, CSP not installed, no PC/SC service. */
    CRYPTO_UNAVAILABLE(10, "crypto-unavailable", "crypto means missing or unsupported", "Неизвестное криптосредство",
                       "Unknown crypto type", "Криптосредство не поддерживается", "Crypto type is unsupported",
                       "Криптосредство \"*\" не поддерживается", "Crypto type \"*\" is unsupported",
                       "Ошибка загрузки библиотеки PKCS #11: *", "Loading PKCS #11 library error: *",
                       "Ошибка загрузки библиотеки \"*\"", "Error reading library \"*\"",
                       "Необходимо криптосредство СКЗИ *", "* not installed", "Функция не реализована",
                       "Function is not implemented", "Не запущен сервис 'PC/SC Smart Card Daemon'",
                       "'PC/SC Smart Card Daemon' is not running"),
    /** The input is not a well-formed signature, certificate or ASN.1 structure. */
    MALFORMED_INPUT(11, "malformed-input", "malformed signature or certificate", "Ошибка расшифровки ASN.1 данных",
                    "Error parsing ASN.1 data", "Ошибка разбора контейнера CMS: *", "Parsing CMS error: *",
                    "Ошибка разбора X.509 сертификата", "Error parsing X.509 certificate"),
    /** Any other failure the library reported. */
    LIBRARY_ERROR(12, "library-error", "other error of the library");

    private final int status;
    private final String name;
    private final String description;
    private final List<Pattern> texts;

    ExitCode(int status, String name, String description, String... catalogueTexts) {
        this.status = status;
        this.name = name;
        this.description = description;
        this.texts = List.of(catalogueTexts).stream().map(ExitCode::pattern).collect(Collectors.toList());
    }

    /** A catalogue text with {@code *} standing for its filled-in placeholder, as a whole-text pattern. */
    private static Pattern pattern(String text) {
        StringBuilder regex = new StringBuilder();
        for (String part : text.split("\\*", -1)) {
            if (regex.length() > 0) {
                regex.append(".*");
            }
            regex.append(Pattern.quote(part));
        }
        return Pattern.compile(regex.toString(), Pattern.DOTALL);
    }

    /**
     * The process exit status.
     *
     * @return 0 to 12
     */
    public int status() {
        return status;
    }

    /**
     * The short name of the class, as {@code --json} output gives it.
     *
     * @return a lower-case word such as {@code wrong-pin}
     */
    public String label() {
        return name;
    }

    /**
     * What the class means, for the help text.
     *
     * @return an English phrase
     */
    public String description() {
        return description;
    }

    /**
     * The class of a failure the library reported.
     *
     * @param message the message of the exception the library raised (any language); null is an other error
     * @return the first class one of whose catalogue texts matches the whole message, else {@link #LIBRARY_ERROR}
     */
    public static ExitCode ofLibraryMessage(String message) {
        if (message != null) {
            for (ExitCode code : values()) {
                for (Pattern text : code.texts) {
                    if (text.matcher(message).matches()) {
                        return code;
                    }
                }
            }
        }
        return LIBRARY_ERROR;
    }
}
