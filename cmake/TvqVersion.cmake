# The version the tool, the application and the packages report: the one in project(),
# plus the commit it was built from where the source is a git checkout. Written at
# configure time to buildversion.h in the build tree; CMake configures again when the
# checkout's HEAD moves, so the commit is never stale. A source tarball without .git
# (or a machine without git) reports the version alone.

set(TVQ_GIT_COMMIT "")
set(TVQ_COMMIT_DATE "")
set(TVQ_COMMIT_TIME "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${CMAKE_SOURCE_DIR}/.git")
  execute_process(
    COMMAND "${GIT_EXECUTABLE}" -C "${CMAKE_SOURCE_DIR}" log -1 --format=%h%n%cs%n%cD
    OUTPUT_VARIABLE _tvq_git_log
    RESULT_VARIABLE _tvq_git_status
    ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(_tvq_git_status EQUAL 0 AND _tvq_git_log MATCHES "^([0-9a-f]+)\n([0-9-]+)\n([^\n]+)$")
    set(TVQ_GIT_COMMIT "${CMAKE_MATCH_1}")
    set(TVQ_COMMIT_DATE "${CMAKE_MATCH_2}")
    set(TVQ_COMMIT_TIME "${CMAKE_MATCH_3}")
    # HEAD itself (a checkout of another branch or commit) and the branch it names (a
    # new commit); in a worktree both live in the main repository's git folder.
    execute_process(
      COMMAND "${GIT_EXECUTABLE}" -C "${CMAKE_SOURCE_DIR}" symbolic-ref -q HEAD
      OUTPUT_VARIABLE _tvq_git_ref
      ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    foreach(_tvq_path HEAD ${_tvq_git_ref} packed-refs)
      execute_process(
        COMMAND "${GIT_EXECUTABLE}" -C "${CMAKE_SOURCE_DIR}" rev-parse --path-format=absolute
                --git-path ${_tvq_path}
        OUTPUT_VARIABLE _tvq_file
        ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(_tvq_file AND EXISTS "${_tvq_file}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_tvq_file}")
      endif()
    endforeach()
  endif()
endif()

set(TVQ_VERSION_TEXT "${PROJECT_VERSION}")
if(TVQ_GIT_COMMIT)
  string(APPEND TVQ_VERSION_TEXT " (git ${TVQ_GIT_COMMIT})")
endif()
# The date of the man pages (TVQ_COMMIT_DATE) and of the package changelog
# (TVQ_COMMIT_TIME, RFC 2822): the commit's, so that a rebuild of the same commit gives
# the same files; outside git the build's (SOURCE_DATE_EPOCH where set).
if(NOT TVQ_COMMIT_DATE)
  string(TIMESTAMP TVQ_COMMIT_DATE "%Y-%m-%d" UTC)
  string(TIMESTAMP TVQ_COMMIT_TIME "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()

configure_file("${CMAKE_CURRENT_LIST_DIR}/buildversion.h.in"
               "${CMAKE_BINARY_DIR}/generated/buildversion.h" @ONLY)
include_directories("${CMAKE_BINARY_DIR}/generated")
