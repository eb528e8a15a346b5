# What the release takes from CHANGELOG (Debian's changelog format, newest
# entry first): its maintainer and its date. The version itself is
# project(VERSION); the newest entry must be that version's, so that the
# packages never ship a changelog that stops one release short.
#   TSRY_MAINTAINER     "Name <address>" of the newest entry
#   TSRY_RELEASE_DATE   its date as YYYY-MM-DD (manual pages, AppStream)
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG tsry_changelog)
string(REGEX MATCH "^tsry-log-parser \\(([^)]+)\\)" tsry_entry "${tsry_changelog}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "CHANGELOG's newest entry is for version '${CMAKE_MATCH_1}', "
                        "the project's is ${PROJECT_VERSION}: add an entry for it.")
endif()
string(REGEX MATCH
       "\n -- ([^\n]+ <[^>\n]+>)  [A-Z][a-z][a-z], ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) "
       tsry_entry "${tsry_changelog}")
if(NOT tsry_entry)
    message(FATAL_ERROR "CHANGELOG's newest entry has no ' -- Name <address>  date' line.")
endif()
set(TSRY_MAINTAINER "${CMAKE_MATCH_1}")
set(tsry_day "${CMAKE_MATCH_2}")
set(tsry_year "${CMAKE_MATCH_4}")
set(tsry_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND tsry_months "${CMAKE_MATCH_3}" tsry_month)
if(tsry_month LESS 0)
    message(FATAL_ERROR "CHANGELOG's newest entry has no month '${CMAKE_MATCH_3}'.")
endif()
math(EXPR tsry_month "${tsry_month} + 1")
string(LENGTH "${tsry_day}" tsry_day_length)
if(tsry_month LESS 10)
    string(PREPEND tsry_month 0)
endif()
if(tsry_day_length LESS 2)
    string(PREPEND tsry_day 0)
endif()
set(TSRY_RELEASE_DATE "${tsry_year}-${tsry_month}-${tsry_day}")
