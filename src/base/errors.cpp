#include "base/errors.h"

namespace bs
{

// clang-format off
const Localization localization({
    {"BS-0001", "Строка не является Base64", "String is not Base64"},
    {"BS-0002", "Ошибка поиска пути к файлу \"%1\"", "Find file \"%1\" path error "},
    {"BS-0003", "Ошибка загрузки функции \"%1\"", "Error loading function \"%1\""},
    {"BS-0004", "Ошибка получения полного пути к каталогу", "Error getting full directory path"},
    {"BS-0005", "Строка не является шестнадцатеричной", "String is not hex"},
    {"BS-0006", "Ошибка чтения файла \"%1\". %2", "Error reading file \"%1\". %2"},
    {"BS-0007", "Ошибка записи файла \"%1\". %2", "Error writing file \"%1\". %2"},
    {"BS-0008", "Ошибка чтения папки \"%1\". %2", "Error reading folder \"%1\". %2"},
    {"BS-0009", "Ошибка загрузки библиотеки \"%1\"", "Error reading library \"%1\""},
    {"BS-0010", "Размер файла \"%1\" меньше допустимого", "Size of file \"%1\" is less than allowed"},
    {"BS-0011", "Размер файла \"%1\" больше допустимого", "Size of file \"%1\" is larger than allowed"},
    {"BS-0012", "Ошибка при переименовании файла \"%1\". %2", "Error renaming file \"%1\". %2"},
    {"BS-0013", "Ошибка при получении прав на файл \"%1\". %2", "Error getting rights for file \"%1\". %2"},
    {"BS-0014", "Ошибка получения случайных данных", "Error getting random data"},
    {"BS-0015", "Ошибка определения каталога временных файлов", "Error detecting the temporary file directory"},
    {"BS-0016", "Ошибка получения пути до временного файла", "Error getting temporary file path"},
    {"BS-0017", "Текст содержит половину суррогатной пары UTF-16 без второй половины или код вне Юникода",
     "Text holds half of a UTF-16 surrogate pair without the other half, or a code beyond Unicode"},
    {"BS-0018", "Путь \"%1\" относительный: библиотеки и папки модулей задаются полным путём",
     "Path \"%1\" is relative: libraries and module folders must be given by their full paths"},
    {"BS-0100", "Доступ запрещен", "Permission denied"},
    {"BS-0101", "Файл существует", "File exists"},
    {"BS-0102", "Файл слишком большой", "File too large"},
    {"BS-0103", "Файл является каталогом", "Is a directory"},
    {"BS-0104", "Слишком много открытых файлов", "Too many open files"},
    {"BS-0105", "Слишком длинное имя файла", "File name too long"},
    {"BS-0106", "Проверьте, что указанная папка существует", "Check specified folder exist"},
    {"BS-0107", "Не удается найти указанный файл", "No such file"},
    {"BS-0108", "Файл не является каталогом", "Not a directory"},
    {"BS-0109", "Каталог не пуст", "Directory not empty"},
    {"BS-0110", "Операция запрещена", "Operation not permitted"},
    {"BS-0111", "Файловая система доступна только для чтения", "Read-only file system"},
});
// clang-format on

} // namespace bs

namespace bs
{

RelativePath::RelativePath(std::string_view path)
    : ComposedError(message(localization, "BS-0018", path), "BS-0018")
{
}

bool isAbsolutePath(std::string_view path) noexcept
{
    return !path.empty() && path.front() == '/';
}

} // namespace bs

LoadLibraryError::LoadLibraryError(std::string_view library)
    : bs::ComposedError(bs::message(bs::localization, "BS-0009", library), "BS-0009"), m_library(library)
{
}
