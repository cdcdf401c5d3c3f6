// Another program holding Paste's database: opens it, starts an exclusive transaction with
// an uncommitted insert, says "locked" on standard output, and keeps the lock until its
// standard input closes. Then it rolls back.
#include <sqlite3.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kn_test_sqlite_locker DATABASE\n");
        return 2;
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return 1;
    char *error = nullptr;
    const char *lock = "BEGIN EXCLUSIVE; "
                       "INSERT INTO ZITEMENTITY (ZRAWTYPE, ZCREATEDAT) VALUES (0, 999999999);";
    if (sqlite3_exec(db, lock, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", error ? error : "?");
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
}
