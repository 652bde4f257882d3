<?php
// Router for PHP's built-in server: records what PHP's own multipart parser made of the
// request, one "field|name|type|error|sha256" line per file, then answers like the service.
$files = [];
foreach ($_FILES as $field => $info) {
    $many = is_array($info['name']);
    foreach ((array) $info['name'] as $i => $name) {
        $at = fn($key) => $many ? $info[$key][$i] : $info[$key];
        $files[] = implode('|', [$many ? $field . '[]' : $field, $name, $at('type'), $at('error'),
                                 $at('error') === 0 ? hash_file('sha256', $at('tmp_name')) : '']);
    }
}
file_put_contents(getenv('PELKIN_DUMP'), json_encode(['post' => $_POST, 'files' => $files]));
echo json_encode(['success' => true, 'url' => 'https://s.example/php']);
