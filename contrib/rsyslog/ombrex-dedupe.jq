# ombrex-dedupe.jq -- prints each record of a central per-host file once.
#
#     jq -c -n -f ombrex-dedupe.jq /var/log/ombrex/web1.json
#
# A restart of the central server can leave a record twice (see 60-ombrex-central.conf).
# Two lines are the same record when they share the record's id and the process id and
# user id that the host's kernel reported for its sender: never by id alone, so that a
# user who sends a record with a copied id cannot make a real record vanish as a "copy".
# The first copy is kept, so the output is in the order of the file; sort by id (its time
# part as a number, then the sequence number after the last "-") to get the order in which
# the records were made. Lines without an id (messages that are no records) are all kept.
#
# Memory grows with the number of distinct records; for a very large file, split it by
# day first.

def record_id:
  if has("record") then (.record | capture("^call=[^ ]+ time=[^ ]+ id=(?<id>[^ ]+)") | .id) // null
  else .id
  end;

foreach inputs as $line ({seen: {}, emit: null};
  ($line | [record_id, .sender_pid, .sender_uid]) as $key
  | if $key[0] == null then .emit = $line
    elif .seen[$key | tojson] then .emit = null
    else .seen[$key | tojson] = true | .emit = $line
    end;
  .emit // empty)
